#pragma once

class QAbstractItemView;
class QMenu;

// Shows the menu on a right-click in the view. A right-click on an item
// selects it first, so the menu's items act on the item under the mouse; a
// right-click on empty space leaves the selection as it was.
void BindPopupMenu(QAbstractItemView* view, QMenu* menu);
