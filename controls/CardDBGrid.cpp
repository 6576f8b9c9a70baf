#include "controls/CardDBGrid.h"

#include "controls/Contrast.h"
#include "controls/UiException.h"
#include "data/DataSet.h"
#include "data/MD.h"

#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <algorithm>
#include <vector>

namespace {
const QString kAscending = QStringLiteral("▲");
const QString kDescending = QStringLiteral("▼");
// How many records decide a column's width.
constexpr int kFitRecords = 50;
// A cell's icon and the room after it.
constexpr int kIconSide = 16;
constexpr int kIconGap = 4;

// Draws each data cell: its stripe colour by record number, or the
// highlight colour on the current row, then the two grid lines along its
// bottom and right edges.
class TStripedCellDelegate : public QStyledItemDelegate
{
public:
    explicit TStripedCellDelegate(TCardDBGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    QString displayText(const QVariant& value, const QLocale&) const override { return GridCellText(value); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        DrawStripedCell(painter, option, index);
    }

private:
    void DrawStripedCell(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
    {
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        // The stripes follow record numbers (the row in the current order),
        // so after a sort the first row is again an odd one.
        const bool even = (index.row() + 1) % 2 == 0;
        QColor text = option.palette.color(QPalette::Active, QPalette::Text);
        QColor fill = StripeColour(even ? m_grid->GridEvenColor() : m_grid->GridOddColor(), even, option.palette);
        // The rows the page's menu items act on show whether or not the grid
        // has the focus.
        if (m_grid->IsCommandRow(index.row(), option.state & QStyle::State_Selected)) {
            fill = m_grid->SelectedRowColor();
            text = option.palette.color(QPalette::Active, QPalette::HighlightedText);
        }
        const QRect rect = option.rect;
        painter->fillRect(rect, fill);
        // The text starts 2 pixels in and keeps 2 pixels (the grid line
        // included) free at the right, so a column sized to its widest value
        // plus 4 pixels shows that value whole; an icon goes before it.
        QRect textRect = rect.adjusted(2, 0, -2, -1);
        const QPixmap icon = index.data(Qt::DecorationRole).value<QPixmap>();
        if (!icon.isNull()) {
            const QRect place(textRect.left(), textRect.top() + (textRect.height() - kIconSide) / 2, kIconSide,
                              kIconSide);
            painter->drawPixmap(place, icon);
            textRect.setLeft(place.right() + 1 + kIconGap);
        }
        painter->save();
        painter->setFont(cell.font);
        painter->setPen(text);
        // Widths are measured in whole pixels; eliding works with fractions
        // and would cut a value that was sized to fit.
        const QString shown = cell.fontMetrics.horizontalAdvance(cell.text) <= textRect.width()
                                  ? cell.text
                                  : cell.fontMetrics.elidedText(cell.text, Qt::ElideRight, textRect.width());
        painter->drawText(textRect, (cell.displayAlignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter, shown);
        painter->setPen(m_grid->GriddingRowColor());
        painter->drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
        painter->setPen(m_grid->GriddingColColor());
        painter->drawLine(rect.right(), rect.top(), rect.right(), rect.bottom());
        painter->restore();
    }

    // A stripe colour that the palette's text cannot be read on (the cream
    // under a dark palette, light text on light ground) gives way to the
    // palette's own ground, the even rows a shade towards the text, so the
    // rows stay striped and readable.
    static QColor StripeColour(const QColor& wanted, bool even, const QPalette& palette)
    {
        const QColor text = palette.color(QPalette::Active, QPalette::Text);
        const QColor base = palette.color(QPalette::Active, QPalette::Base);
        const QColor fallback = even ? BackgroundFor(text, Blend(base, text, 0.1), base) : base;
        return BackgroundFor(text, wanted, fallback);
    }

    TCardDBGrid* m_grid;
};

bool IsMarked(const QString& title)
{
    return title.startsWith(kAscending) || title.startsWith(kDescending);
}
} // namespace

TCardDBGrid::TCardDBGrid(QWidget* parent)
    : QTableView(parent), m_GridOddColor(palette().color(QPalette::Active, QPalette::Base)),
      m_GridEvenColor(255, 251, 240), m_GriddingRowColor(166, 202, 240), m_GriddingColColor(166, 202, 240)
{
    setItemDelegate(new TStripedCellDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    setTabKeyNavigation(true);
    setWordWrap(false);
    // The delegate draws the grid lines in their own colours.
    setShowGrid(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView* titles = horizontalHeader();
    titles->setSectionsClickable(true);
    titles->setSectionsMovable(false);
    titles->setHighlightSections(false);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The title row is measured in bold to size its height, the first bold
    // text of the program; a grid on a page not shown yet shows it (and
    // pays for it) when it is first shown.
    titles->hide();
    connect(titles, &QHeaderView::sectionClicked, this,
            [this](int column) { RunHandler([&] { TitleClick(column); }); });
}

TDataSet* TCardDBGrid::DataSet() const
{
    return m_source ? m_source->DataSet() : nullptr;
}

void TCardDBGrid::SetDataSource(TGridSource* source)
{
    if (m_source == source)
        return;
    m_source = source;
    disconnect(m_resetConnection);
    setModel(source);
    disconnect(m_failureConnection);
    if (source) {
        m_resetConnection = connect(source, &QAbstractItemModel::modelReset, this, &TCardDBGrid::ModelReset);
        m_failureConnection =
            connect(source, &TGridSource::FetchFailed, this, [](const QString& message, const QString& sql) {
                RunHandler([&] { throw EDBException(message, kQueryErrorText, sql); });
            });
    }
    BindDataSet();
}

void TCardDBGrid::OpenGridSet(const std::function<void()>& open, bool fit)
{
    SetDataSource(DbAccess->GridSource.get());
    open();
    if (fit)
        FitColumns();
}

void TCardDBGrid::FitColumns()
{
    // A grid on a page that is not shown (the main window fills every page
    // at its first show) is fitted when it appears: measuring fifty rows of
    // text is a good part of a start.
    m_fitPending = window()->isVisible() && !isVisible();
    if (!m_fitPending)
        FitGridColumns(this);
}

void TCardDBGrid::SetGridOddColor(const QColor& value)
{
    if (value != m_GridOddColor)
        m_GridOddColor = value;
}

void TCardDBGrid::SetGridEvenColor(const QColor& value)
{
    if (value != m_GridEvenColor)
        m_GridEvenColor = value;
}

void TCardDBGrid::SetGriddingRowColor(const QColor& value)
{
    if (value != m_GriddingRowColor)
        m_GriddingRowColor = value;
}

void TCardDBGrid::SetGriddingColColor(const QColor& value)
{
    if (value != m_GriddingColColor)
        m_GriddingColColor = value;
}

QColor TCardDBGrid::SelectedRowColor() const
{
    return palette().color(QPalette::Active, QPalette::Highlight);
}

void TCardDBGrid::TitleClick(int column)
{
    TDataSet* set = DataSet();
    if (!set || !set->Active() || column < 0 || column >= set->FieldCount())
        return;
    for (int i = 0; i < m_source->columnCount(); ++i) {
        const QString title = m_source->headerData(i, Qt::Horizontal).toString();
        if (IsMarked(title))
            m_source->setHeaderData(i, Qt::Horizontal, title.mid(1));
    }
    // The expression only ever grows by blanks, which the dataset ignores:
    // repeated clicks on one title give f, "f DESC", "f ", "f  DESC", ...
    const QString field = set->FieldName(column);
    QString sort = set->Sort();
    QString mark = kAscending;
    if (!sort.contains(field)) {
        sort = field;
    } else if (sort.contains("DESC")) {
        sort.remove(sort.indexOf("DESC"), 4);
    } else {
        sort += " DESC";
        mark = kDescending;
    }
    m_source->setHeaderData(column, Qt::Horizontal, mark + m_source->headerData(column, Qt::Horizontal).toString());
    set->SetSort(sort);
}

QList<int> TCardDBGrid::SelectedRows() const
{
    QList<int> rows;
    if (const QItemSelectionModel* selection = selectionModel()) {
        for (const QItemSelectionRange& range : selection->selection())
            for (int row = range.top(); row <= range.bottom(); ++row)
                rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.isEmpty() && currentIndex().isValid())
        rows.append(currentIndex().row());
    return rows;
}

bool TCardDBGrid::IsCommandRow(int row, bool selected) const
{
    return selected || (row == currentIndex().row() && !selectionModel()->hasSelection());
}

void TCardDBGrid::SetCurrentRow(int row)
{
    TDataSet* set = DataSet();
    if (!set || !set->Active() || row < 0)
        return;
    const int rows = set->EnsureFetched(row + 1);
    if (rows > 0)
        set->SetRecNo(std::min(row, rows - 1) + 1);
}

void TCardDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (m_set && m_set->Active() && current.isValid() && current.row() + 1 != m_set->RecNo())
        m_set->SetRecNo(current.row() + 1);
    // The whole old and new rows change colour, not just the two cells.
    viewport()->update();
}

QModelIndex TCardDBGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // The view cannot move from a cell of a hidden column (the identifier
    // column of the bookmark list), so step onto a visible one first.
    const QModelIndex current = currentIndex();
    if (current.isValid() && isColumnHidden(current.column()))
        selectionModel()->setCurrentIndex(model()->index(current.row(), VisibleColumn()),
                                          QItemSelectionModel::NoUpdate);
    return QTableView::moveCursor(action, modifiers);
}

void TCardDBGrid::showEvent(QShowEvent* event)
{
    if (!m_titlesShown) {
        m_titlesShown = true;
        horizontalHeader()->show();
    }
    if (m_fitPending)
        FitColumns();
    QTableView::showEvent(event);
}

void TCardDBGrid::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

void TCardDBGrid::BindDataSet()
{
    TDataSet* set = DataSet();
    if (set == m_set && m_setConnection)
        return;
    disconnect(m_setConnection);
    m_set = set;
    if (set)
        m_setConnection = connect(set, &TDataSet::CurrentChanged, this, &TCardDBGrid::DataSetCurrentChanged);
}

void TCardDBGrid::DataSetCurrentChanged(int row)
{
    // A dataset that was opened, requeried or sorted announces its current
    // record before its new rows; the reset that follows places the row.
    if (!m_set || row < 0 || verticalHeader()->count() != m_set->FetchedCount())
        return;
    if (currentIndex().row() != row)
        MoveToRow(row);
}

void TCardDBGrid::ModelReset()
{
    BindDataSet();
    if (m_set && m_set->Active() && m_set->RecNo() > 0)
        MoveToRow(m_set->RecNo() - 1);
}

void TCardDBGrid::MoveToRow(int row)
{
    // The dataset's record alone is selected then, whatever keys are down
    // (a view's own change of current row would add to the selection under
    // Ctrl or Shift).
    const QModelIndex target = model() ? model()->index(row, VisibleColumn()) : QModelIndex();
    if (target.isValid())
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TCardDBGrid::VisibleColumn() const
{
    const int column = currentIndex().column();
    if (column >= 0 && !isColumnHidden(column))
        return column;
    const int columns = model() ? model()->columnCount() : 0;
    for (int i = 0; i < columns; ++i)
        if (!isColumnHidden(i))
            return i;
    return 0;
}

QString GridCellText(const QVariant& value)
{
    QString text = TDataSet::Text(value);
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (const QChar lineBreak :
         {QChar('\r'), QChar('\n'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)})
        text.replace(lineBreak, QChar(' '));
    return text;
}

void FitGridColumns(QTableView* grid)
{
    auto* source = qobject_cast<TGridSource*>(grid->model());
    TDataSet* set = source ? source->DataSet() : nullptr;
    if (!set || !set->Active())
        return;
    const int fields = std::min(set->FieldCount(), source->columnCount());
    const QFontMetrics titleMetrics(grid->horizontalHeader()->font());
    const QFontMetrics metrics(grid->font());
    std::vector<int> widths(fields);
    for (int i = 0; i < fields; ++i)
        widths[i] = titleMetrics.horizontalAdvance(source->headerData(i, Qt::Horizontal).toString()) + 24;
    // Values are read by position, so the current record stays where it is
    // and nothing is repainted while scanning.
    const int rows = set->EnsureFetched(kFitRecords);
    for (int row = 0; row < rows; ++row)
        for (int i = 0; i < fields; ++i) {
            const bool icon = source->ExtraRoles && source->ExtraRoles(row, i, Qt::DecorationRole).isValid();
            widths[i] = std::max(widths[i], metrics.horizontalAdvance(GridCellText(set->ValueAt(row, i))) + 4 +
                                                (icon ? kIconSide + kIconGap : 0));
        }
    for (int i = 0; i < fields; ++i)
        grid->setColumnWidth(i, widths[i]);
}
