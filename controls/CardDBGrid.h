#pragma once

#include "data/GridSource.h"

#include <QTableView>

// The read-only, data-bound grid of the bookmark page.
class TCardDBGrid : public QTableView, public IDataGrid
{
    Q_OBJECT
public:
    explicit TCardDBGrid(QWidget* parent = nullptr);

    void SetDataSource(TGridSource* source) override;
    void FitColumns() override;
    TGridSource* DataSource() const { return m_source; }

private:
    TGridSource* m_source = nullptr;
};

// Sizes each column to the wider of its title plus 24 pixels and its widest
// value among the first 50 records plus 4 pixels.
void FitGridColumns(TCardDBGrid* grid);
