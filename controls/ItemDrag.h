#pragma once

#include <QString>
#include <functional>

class QAbstractItemView;
class QMimeData;
class QModelIndex;

// Lets the user drag the item under the mouse out of a view: once the left
// button has moved far enough, dragged(index) gives the data to carry (an
// empty text: nothing to drag from there), under the given format.
void EnableItemDrag(QAbstractItemView* view, const QString& format, std::function<QString(const QModelIndex&)> dragged);

// Takes drops of the given formats on the items of a view. canDrop says
// whether an item takes what is carried: while the drag is over such an
// item it is the drop target (DropTargetOf, drawn by the view's delegate);
// anywhere else the drop is refused and the desktop shows the forbidden
// cursor. dropped(index, format, text) runs when it is let go on a target,
// once the drag is over (from the event loop), its failures reported like
// any handler's.
void AcceptItemDrops(QAbstractItemView* view, const QStringList& formats,
                     std::function<bool(const QModelIndex&, const QString& format, const QString& text)> canDrop,
                     std::function<void(const QModelIndex&, const QString& format, const QString& text)> dropped);

// The item a drop on the view would go to now; invalid while no drag of a
// format it takes is over one that takes it.
QModelIndex DropTargetOf(const QAbstractItemView* view);
