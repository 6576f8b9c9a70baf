#include "search/SearchPanel.h"

#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/MD.h"
#include "data/SqliteDb.h"
#include "ui_SearchPanel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

namespace {
const char* const kKindNames[] = {"记事本", "网址管理", "定时提醒"};

// A result row: the lead (path or time) in the dimmed colour, then the
// snippet with its matches on a yellow ground; cut at the row's end.
class TResultDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QVariant marks = index.data(TSearchResultsModel::MarksRole);
        if (!marks.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QString text = item.text;
        item.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget).adjusted(2, 0, -2, 0);
        const bool selected = option.state & QStyle::State_Selected;
        const QColor normal = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QColor dim = selected ? normal : option.palette.color(QPalette::PlaceholderText);
        const int lead = index.data(TSearchResultsModel::LeadRole).toInt();
        // The text in runs: lead, marked, lead, plain, marked, plain, ...
        std::vector<std::pair<int, int>> runs; // end, kind (0 lead, 1 plain, 2 marked)
        int at = 0;
        const auto unmarkedTo = [&](int end) {
            if (at < lead && end > at)
                runs.emplace_back(at = std::min(end, lead), 0);
            if (end > at)
                runs.emplace_back(at = end, 1);
        };
        for (const QVariant& mark : marks.toList()) {
            const QPoint range = mark.toPoint();
            unmarkedTo(range.x());
            runs.emplace_back(at = range.x() + range.y(), 2);
        }
        unmarkedTo(int(text.size()));
        painter->save();
        painter->setClipRect(area);
        int x = area.left();
        int from = 0;
        for (const auto& [end, kind] : runs) {
            if (end <= from)
                continue;
            const QString part = text.mid(from, end - from);
            from = end;
            const int width = item.fontMetrics.horizontalAdvance(part);
            const QRect box(x, area.top(), width, area.height());
            if (kind == 2) {
                painter->fillRect(box, QColor(255, 230, 0));
                painter->setPen(Qt::black);
            } else {
                painter->setPen(kind == 0 ? dim : normal);
            }
            painter->drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, part);
            x += width;
            if (x > area.right())
                break;
        }
        painter->restore();
    }
};
} // namespace

void TSearchResultsModel::SetResults(TSearchResults results)
{
    beginResetModel();
    m_results = std::move(results);
    m_kinds.clear();
    for (int i = 0; i < int(m_results.Items.size()); ++i) {
        const TSearchKind kind = m_results.Items[size_t(i)].Kind;
        if (m_kinds.empty() || m_kinds.back().Kind != kind)
            m_kinds.push_back({kind, i, 0});
        ++m_kinds.back().Count;
    }
    endResetModel();
}

const TSearchResult* TSearchResultsModel::ResultAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() == 0)
        return nullptr;
    const TKindRows& kind = m_kinds[size_t(index.internalId() - 1)];
    return &m_results.Items[size_t(kind.First + index.row())];
}

QModelIndex TSearchResultsModel::FirstResult() const
{
    return m_kinds.empty() ? QModelIndex() : index(0, 0, index(0, 0));
}

QModelIndex TSearchResultsModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return {};
    return createIndex(row, column, parent.isValid() ? quintptr(parent.row() + 1) : quintptr(0));
}

QModelIndex TSearchResultsModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == 0)
        return {};
    return createIndex(int(child.internalId() - 1), 0, quintptr(0));
}

int TSearchResultsModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(m_kinds.size());
    if (parent.internalId() == 0 && parent.column() == 0)
        return m_kinds[size_t(parent.row())].Count;
    return 0;
}

int TSearchResultsModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant TSearchResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (index.internalId() == 0) {
        const TKindRows& kind = m_kinds[size_t(index.row())];
        if (role == Qt::DisplayRole) {
            const int found = m_results.FoundOf(kind.Kind);
            QString text = QString("%1（%2 条").arg(kKindNames[int(kind.Kind)]).arg(found);
            if (m_results.MoreOf(kind.Kind))
                text = QString("%1（多于 %2 条").arg(kKindNames[int(kind.Kind)]).arg(found);
            if (found > kind.Count || m_results.MoreOf(kind.Kind))
                text += QString("，显示前 %1 条").arg(kind.Count);
            return text + "）";
        }
        if (role == Qt::FontRole) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    }
    const TSearchResult& result = *ResultAt(index);
    const QString lead = result.Kind == TSearchKind::Reminder ? result.Time : result.Path;
    const int leadLength = lead.isEmpty() ? 0 : int(lead.size()) + 2;
    switch (role) {
    case Qt::DisplayRole:
        return lead.isEmpty() ? result.Snippet : lead + "  " + result.Snippet;
    case Qt::ToolTipRole:
        return lead.isEmpty() ? result.Snippet : lead + "\n" + result.Snippet;
    case LeadRole:
        return leadLength;
    case MarksRole: {
        QVariantList marks;
        for (const TSearchMark& mark : result.PathMarks)
            marks.append(QPoint(mark.Start, mark.Length));
        for (const TSearchMark& mark : result.Marks)
            marks.append(QPoint(leadLength + mark.Start, mark.Length));
        return marks;
    }
    default:
        return {};
    }
}

Qt::ItemFlags TSearchResultsModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return index.internalId() == 0 ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

TSearchPanel::TSearchPanel(QWidget* window, QTabWidget* tabs)
    : QObject(window), m_window(window), m_tabs(tabs), m_field(new QLineEdit), m_pause(new QTimer(this)),
      m_model(new TSearchResultsModel(this))
{
    m_model->setObjectName("searchResults");
    m_field->setObjectName("edtSearch");
    m_field->setPlaceholderText("搜索全部");
    m_field->setAccessibleName("搜索全部");
    m_field->setMinimumWidth(200);
    // In a box of its own: the tab bar's corner is given its widget's size
    // hint, which for a bare field leaves out its least width and pushes the
    // field's end, with its clear button, past the window's edge.
    auto* corner = new QWidget;
    auto* cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 0, 0, 0);
    cornerLayout->addWidget(m_field);
    tabs->setCornerWidget(corner, Qt::TopRightCorner);
    m_pause->setObjectName("tmrSearch");
    m_pause->setSingleShot(true);
    m_pause->setInterval(kPauseMs);
    connect(m_pause, &QTimer::timeout, this, [this] { RunHandler([this] { Run(); }); });
    connect(m_field, &QLineEdit::textChanged, this, [this] { m_pause->start(); });
    // The clear button shows only over text, and the style's reading of its
    // picture loads every image plugin, milliseconds of the start: it comes
    // with the field's first text, as does the results' frame.
    connect(
        m_field, &QLineEdit::textChanged, this,
        [this] {
            m_field->setClearButtonEnabled(true);
            Frame();
        },
        Qt::SingleShotConnection);
    auto* key = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), window);
    connect(key, &QShortcut::activated, this, &TSearchPanel::Focus);
    m_field->installEventFilter(this);
    window->installEventFilter(this);
    // The results show only while the field or the list has the focus.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (ResultsShown() && now != m_field && !m_frame->isAncestorOf(now))
            m_frame->hide();
    });
}

QFrame* TSearchPanel::Frame()
{
    if (m_frame)
        return m_frame;
    m_frame = new QFrame(m_window);
    ui = std::make_unique<Ui::TSearchResults>();
    ui->setupUi(m_frame);
    m_frame->hide();
    ui->tvSearchResults->setModel(m_model);
    ui->tvSearchResults->setItemDelegate(new TResultDelegate(ui->tvSearchResults));
    connect(ui->tvSearchResults, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { RunHandler([&] { Open(index); }); });
    ui->tvSearchResults->installEventFilter(this);
    return m_frame;
}

bool TSearchPanel::ResultsShown() const
{
    return m_frame && m_frame->isVisible();
}

TSearchPanel::~TSearchPanel() = default;

void TSearchPanel::Focus()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
    if (!m_model->Results().Items.empty() && m_query == m_field->text())
        ShowResults(true);
}

// Searches for the field's text now; a database failure is reported as any other.
void TSearchPanel::Run()
{
    m_pause->stop();
    m_query = m_field->text();
    TSearchResults results;
    try {
        const TGroupTable* notes = GroupsOf ? GroupsOf(TSearchKind::Note) : nullptr;
        const TGroupTable* bookmarks = GroupsOf ? GroupsOf(TSearchKind::Bookmark) : nullptr;
        results = notes && bookmarks ? Search(DbAccess->Handle(), m_query, *notes, *bookmarks)
                                     : Search(DbAccess->Handle(), m_query);
    } catch (const TSqlError& e) {
        m_model->SetResults({});
        ShowResults(false);
        throw EDBException(e.Message, "搜索失败。", QString());
    }
    const bool nothing = results.Items.empty();
    m_model->SetResults(std::move(results));
    Frame();
    ui->tvSearchResults->expandAll();
    if (m_query.trimmed().isEmpty()) {
        ShowResults(false);
        return;
    }
    const TSearchResults& shown = m_model->Results();
    const bool more = shown.More[0] || shown.More[1] || shown.More[2];
    ui->lblSearchCount->setText(nothing ? QString("没有找到\u201C%1\u201D。").arg(m_query.left(100))
                                        : QString("找到 %1 条%2，按回车键或双击转到。")
                                              .arg(shown.Found[0] + shown.Found[1] + shown.Found[2])
                                              .arg(more ? "以上" : ""));
    ui->tvSearchResults->setCurrentIndex(m_model->FirstResult());
    ShowResults(m_field->hasFocus() || Frame()->isAncestorOf(QApplication::focusWidget()));
}

// Enter in the field: the pending search runs first, then the current result opens.
void TSearchPanel::OpenCurrent()
{
    if (m_pause->isActive() || m_query != m_field->text())
        Run();
    Frame();
    QModelIndex current = ui->tvSearchResults->currentIndex();
    if (!m_model->ResultAt(current))
        current = m_model->FirstResult();
    Open(current);
}

void TSearchPanel::Open(const QModelIndex& index)
{
    const TSearchResult* found = m_model->ResultAt(index);
    if (!found || !OnOpen)
        return;
    const TSearchResult result = *found;
    if (OnOpen(result, SearchWords(m_query))) {
        Frame()->hide();
        return;
    }
    const char* gone = result.Kind == TSearchKind::Note       ? "该记事所在的组已被删除。"
                       : result.Kind == TSearchKind::Bookmark ? "该网址已被删除。"
                                                              : "该提醒已被删除。";
    ShowInfo(gone);
    // What is left of the results, read again.
    m_field->setFocus(Qt::OtherFocusReason);
    Run();
}

void TSearchPanel::Clear()
{
    m_field->clear();
    m_pause->stop();
    m_query.clear();
    m_model->SetResults({});
    ShowResults(false);
}

void TSearchPanel::ShowResults(bool shown)
{
    if (shown) {
        Place();
        Frame()->show();
        m_frame->raise();
    } else if (m_frame) {
        m_frame->hide();
    }
}

// Under the field, at the window's right edge, over the pages.
void TSearchPanel::Place()
{
    const QPoint below = m_field->mapTo(m_window, QPoint(0, m_field->height()));
    const int width = std::min(560, m_window->width() - 8);
    const int height = std::max(120, std::min(360, m_window->height() - below.y() - 8));
    Frame()->setGeometry(m_window->width() - width - 4, below.y() + 1, width, height);
}

bool TSearchPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window) {
        if (event->type() == QEvent::Resize && ResultsShown())
            Place();
        return QObject::eventFilter(watched, event);
    }
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (watched == m_field) {
        if (key == Qt::Key_Escape) {
            Clear();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            RunHandler([this] { OpenCurrent(); });
            return true;
        }
        if (key == Qt::Key_Down && ResultsShown()) {
            ui->tvSearchResults->setFocus(Qt::OtherFocusReason);
            if (!m_model->ResultAt(ui->tvSearchResults->currentIndex()))
                ui->tvSearchResults->setCurrentIndex(m_model->FirstResult());
            return true;
        }
    } else if (ui && watched == ui->tvSearchResults) {
        if (key == Qt::Key_Escape) {
            m_field->setFocus(Qt::OtherFocusReason);
            m_frame->hide();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            RunHandler([this] { Open(ui->tvSearchResults->currentIndex()); });
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
