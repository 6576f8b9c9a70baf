#include "bookmarks/IEList.h"

#include "bookmarks/UntIE.h"
#include "controls/CardDBGrid.h"

#include <QHeaderView>
#include <QMenu>

namespace {
bool g_tagsShown = true;

// The tags' column, found by its title: other columns may come before it.
int TagsColumn(const TCardDBGrid* grid)
{
    const QAbstractItemModel* rows = grid->model();
    for (int column = 0; rows && column < rows->columnCount(); ++column)
        if (rows->headerData(column, Qt::Horizontal).toString().endsWith(QStringLiteral("标签")))
            return column;
    return -1;
}

void ApplyTagsColumn(TCardDBGrid* grid)
{
    const int column = TagsColumn(grid);
    if (column >= 0)
        grid->setColumnHidden(column, !g_tagsShown);
}
} // namespace

void AddTagsColumn(TIE& store)
{
    store.SetListExtension("tags", {"T.Tags as 标签", "join IE T on T.ID = L.ID", QString()});
}

void ShowGroupIE(TIE& store, TCardDBGrid* grid, int n)
{
    grid->OpenGridSet([&] { store.OpenGroupIE(n); }, true);
    grid->setColumnHidden(0, true);
    ApplyTagsColumn(grid);
}

bool TagsColumnShown()
{
    return g_tagsShown;
}

void SetTagsColumnShown(TCardDBGrid* grid, bool shown)
{
    g_tagsShown = shown;
    ApplyTagsColumn(grid);
}

void BindColumnMenu(TCardDBGrid* grid, std::function<void(QMenu* menu)> addItems)
{
    QHeaderView* titles = grid->horizontalHeader();
    titles->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(titles, &QWidget::customContextMenuRequested, grid, [=](const QPoint& at) {
        QMenu menu(grid);
        menu.setAccessibleName(QStringLiteral("显示的列"));
        QAction* tags = menu.addAction(QStringLiteral("显示标签列"));
        tags->setCheckable(true);
        tags->setChecked(g_tagsShown);
        addItems(&menu);
        if (menu.exec(titles->mapToGlobal(at)) == tags)
            SetTagsColumnShown(grid, !g_tagsShown);
    });
}
