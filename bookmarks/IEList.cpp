#include "bookmarks/IEList.h"

#include "bookmarks/UntIE.h"
#include "controls/CardDBGrid.h"

void ShowGroupIE(TIE& store, TCardDBGrid* grid, int n)
{
    store.OpenGroupIE(grid, n);
    grid->setColumnHidden(0, true);
}
