#pragma once

class TCardDBGrid;

// Lists the bookmarks of group n (all of them for 0) in the grid, sized to
// their contents, with the identifier column hidden.
void ShowGroupIE(TCardDBGrid* grid, int n);
