#pragma once

class QAbstractItemView;
class QMenu;

// Shows the menu on a right-click in the view. The right button does not
// move the selection: the menu's items act on what was selected before.
void BindPopupMenu(QAbstractItemView* view, QMenu* menu);
