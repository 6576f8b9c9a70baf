#pragma once

#include <QKeySequence>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>

class QAbstractItemView;
class QAction;
class QLabel;

// Shows a short grey hint of what to do (e.g. "右键单击可添加网址") in the
// middle of an item view while the view has nothing to show; empty() says
// when that is. The hint follows the view's model, whichever it is now.
// Returns the hint's label, which lets the mouse through to the view.
QLabel* ShowEmptyHint(QAbstractItemView* view, const QString& text, std::function<bool()> empty);

// Gives the menu items their keys in one view: each works while the view
// has the keyboard focus and shows beside its item in the menus. A key
// pressed while nothing is selected selects the current item first, as a
// click would, so the item acts on what the focus frame is on.
void BindViewKeys(QAbstractItemView* view, const QList<QPair<QKeySequence, QAction*>>& keys);

// A list's keys: Ctrl+N adds, Delete deletes, Enter (either key) opens the
// current item.
void BindListKeys(QAbstractItemView* view, QAction* add, QAction* del, QAction* open);
