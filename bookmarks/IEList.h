#pragma once

#include <functional>

class QMenu;
class TCardDBGrid;
class TIE;

// Adds the 标签 column (the bookmarks' tags) to the store's list.
void AddTagsColumn(TIE& store);

// Lists the bookmarks of group n (all of them for 0) in the grid, sized to
// their contents, with the identifier column hidden, and the 标签 column
// unless the user hid it.
void ShowGroupIE(TIE& store, TCardDBGrid* grid, int n);

// Whether the grid shows the 标签 column (at first it does); the window
// keeps the choice with its other places.
bool TagsColumnShown();
void SetTagsColumnShown(TCardDBGrid* grid, bool shown);
// A right-click on the grid's column titles offers to show or hide the
// 标签 column, and what `addItems` puts in the same menu.
void BindColumnMenu(TCardDBGrid* grid, std::function<void(QMenu* menu)> addItems);
