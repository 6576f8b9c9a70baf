#pragma once

class TCardDBGrid;
class TIE;

// Lists the bookmarks of group n (all of them for 0) in the grid, sized to
// their contents, with the identifier column hidden.
void ShowGroupIE(TIE& store, TCardDBGrid* grid, int n);
