#pragma once

#include "data/GridSource.h"

#include <QColor>
#include <QMetaObject>
#include <QPointer>
#include <QTableView>
#include <functional>

class TDataSet;

// The read-only, data-bound grid of the bookmark page: records in two
// alternating colours with coloured lines under and right of each cell, the
// current row in the highlight colour, and sorting by a click on a column
// title with "▲" (ascending) or "▼" (descending) in front of that title.
// Its current row and the dataset's current record follow each other, so
// handlers read "the current row" from the dataset.
class TCardDBGrid : public QTableView
{
    Q_OBJECT
    Q_PROPERTY(QColor GridOddColor READ GridOddColor WRITE SetGridOddColor)
    Q_PROPERTY(QColor GridEvenColor READ GridEvenColor WRITE SetGridEvenColor)
    Q_PROPERTY(QColor GriddingRowColor READ GriddingRowColor WRITE SetGriddingRowColor)
    Q_PROPERTY(QColor GriddingColColor READ GriddingColColor WRITE SetGriddingColColor)

public:
    explicit TCardDBGrid(QWidget* parent = nullptr);

    void SetDataSource(TGridSource* source);
    // Sizes the columns to their contents (see FitGridColumns), once the
    // grid is shown.
    void FitColumns();
    // Shows the database access object's grid dataset as `open` opens it
    // (TDbAccess::OpenGrid), its columns fitted when fit is set. The grid is
    // bound first: a statement that fails leaves it bound and empty.
    void OpenGridSet(const std::function<void()>& open, bool fit);
    // Widths the program set stand: a fit still waiting for the grid to
    // appear is dropped.
    void KeepColumnWidths() { m_fitPending = false; }
    TGridSource* DataSource() const { return m_source; }
    // The dataset behind the data source, or null.
    TDataSet* DataSet() const;

    // The colours take effect at the next repaint: a change alone repaints
    // nothing. A stripe colour that the palette's text cannot be read on (a
    // dark palette) is drawn in a shade of the palette's own ground instead.
    QColor GridOddColor() const { return m_GridOddColor; }
    void SetGridOddColor(const QColor& value);
    QColor GridEvenColor() const { return m_GridEvenColor; }
    void SetGridEvenColor(const QColor& value);
    QColor GriddingRowColor() const { return m_GriddingRowColor; }
    void SetGriddingRowColor(const QColor& value);
    QColor GriddingColColor() const { return m_GriddingColColor; }
    void SetGriddingColColor(const QColor& value);
    // The colour of the current row: the palette's highlight, which is where
    // the desktop keeps the colour of highlighted menu items.
    QColor SelectedRowColor() const;

    // The rows the commands act on, top to bottom: the selected ones (Ctrl
    // and Shift with a click or the arrows select several), else the current
    // row; none on an empty list.
    QList<int> SelectedRows() const;
    // Whether a row is drawn in the highlight colour: a selected one, or the
    // current one while none is selected.
    bool IsCommandRow(int row, bool selected) const;
    // Makes the row current (the last one when there are fewer rows), as
    // after a delete: the row below the deleted ones takes their place.
    void SetCurrentRow(int row);

    // Sorts by the clicked column, alternating ascending and descending, and
    // moves the mark to its title. Does nothing without an open dataset.
    virtual void TitleClick(int column);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BindDataSet();
    void DataSetCurrentChanged(int row);
    void ModelReset();
    void MoveToRow(int row);
    // The current column when it is visible, else the first visible one.
    int VisibleColumn() const;

    TGridSource* m_source = nullptr;
    QPointer<TDataSet> m_set;
    QMetaObject::Connection m_setConnection;
    QMetaObject::Connection m_resetConnection;
    QMetaObject::Connection m_failureConnection;
    QColor m_GridOddColor;
    QColor m_GridEvenColor;
    QColor m_GriddingRowColor;
    QColor m_GriddingColColor;
    bool m_titlesShown = false;
    bool m_fitPending = false;
};

// The text a grid cell shows for a value: one line, each line break shown
// as a blank (the whole value stays in the cell's tooltip).
QString GridCellText(const QVariant& value);

// Sizes each column of a grid bound to a TGridSource: at least its title
// plus 24 pixels, and as wide as its widest value among the first 50
// records plus 4 pixels. Values further down never widen a column, so a
// large result costs no more to size than a small one.
void FitGridColumns(QTableView* grid);
