#include "bookmarks/IEList.h"

#include "bookmarks/UntIE.h"
#include "controls/CardDBGrid.h"

void ShowGroupIE(TCardDBGrid* grid, int n)
{
    IE.OpenGroupIE(grid, n);
    grid->setColumnHidden(0, true);
}
