#include "controls/CardDBGrid.h"

#include "data/DataSet.h"

#include <QHeaderView>

TCardDBGrid::TCardDBGrid(QWidget* parent) : QTableView(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
    setWordWrap(false);
}

void TCardDBGrid::SetDataSource(TGridSource* source)
{
    if (m_source == source)
        return;
    m_source = source;
    setModel(source);
}

void TCardDBGrid::FitColumns()
{
    FitGridColumns(this);
}

void FitGridColumns(TCardDBGrid* grid)
{
    TGridSource* source = grid->DataSource();
    TDataSet* set = source ? source->DataSet() : nullptr;
    if (!set || !set->Active())
        return;
    const QFontMetrics metrics(grid->font());
    const QFontMetrics titleMetrics(grid->horizontalHeader()->font());
    const int rows = std::min(set->RecordCount(), 50);
    for (int field = 0; field < set->FieldCount(); ++field) {
        int width = titleMetrics.horizontalAdvance(source->headerData(field, Qt::Horizontal).toString()) + 24;
        for (int row = 0; row < rows; ++row)
            width = std::max(width, metrics.horizontalAdvance(TDataSet::Text(set->ValueAt(row, field))) + 4);
        grid->setColumnWidth(field, width);
    }
}
