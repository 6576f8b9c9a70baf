#include "bookmarks/BookmarkPage.h"

#include "bookmarks/AddIE.h"
#include "bookmarks/BookmarkPlaces.h"
#include "bookmarks/IEList.h"
#include "bookmarks/ModIE.h"
#include "bookmarks/OpenAddress.h"
#include "bookmarks/UntIE.h"
#include "bookmarks/ViewIEType.h"
#include "controls/CardDBGrid.h"
#include "controls/EmptyHint.h"
#include "controls/FirstEvent.h"
#include "controls/ItemDrag.h"
#include "controls/PopupMenu.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "controls/UndoAction.h"
#include "data/DataSet.h"
#include "data/MD.h"
#include "groups/DeleteKeeper.h"
#include "groups/UntTree.h"
#include "ui_BookmarkPage.h"

#include <QAction>
#include <QColor>
#include <QEvent>
#include <QTreeWidget>

namespace {
const QString kGroupFormat = "application/x-jotterel-bookmark-group";
const QString kBookmarkFormat = "application/x-jotterel-bookmark";

// The grid's dataset when it holds at least one bookmark, else null: the
// menu items on an empty list do nothing.
TDataSet* CurrentBookmark()
{
    TDataSet* set = DbAccess->GridSet.get();
    return set->Active() && !set->IsEmpty() ? set : nullptr;
}

// Bookmarks carried by a drag: their identifiers, "3,5,9".
QString IdsText(const QList<int>& ids)
{
    QStringList texts;
    for (int id : ids)
        texts << QString::number(id);
    return texts.join(u',');
}

QList<int> IdsOf(const QString& text)
{
    QList<int> ids;
    for (const QString& each : text.split(u',', Qt::SkipEmptyParts))
        ids.append(each.toInt());
    return ids;
}

// A group moves only where the move changes something and keeps the tree
// a tree: not onto itself, into its own branch, or under its own parent.
bool CanMoveGroup(const TGroupTable& groups, int self, int parent)
{
    if (self == 0 || !groups.Contains(self) || !groups.Contains(parent))
        return false;
    if (parent == self || groups.Ancestors(parent).contains(self))
        return false;
    return groups.ParentIndex(self) != parent || groups.ShownParent(self) != parent;
}
} // namespace

TBookmarkPage::TBookmarkPage(const TBookmarkWidgets& widgets, std::unique_ptr<TCardTree>& ieTree, TIE& ie)
    : m_widgets(widgets), IETree(ieTree), IE(ie), m_groupCommands(ieTree, GroupParts())
{
    ConnectHandler(m_widgets.N1, &QAction::triggered, this, &TBookmarkPage::N1Click);
    ConnectHandler(m_widgets.N5, &QAction::triggered, this, &TBookmarkPage::N5Click);
    ConnectHandler(m_widgets.N2, &QAction::triggered, this, &TBookmarkPage::N2Click);
    ConnectHandler(m_widgets.N3, &QAction::triggered, this, &TBookmarkPage::N3Click);
    ConnectHandler(m_widgets.N8, &QAction::triggered, this, &TBookmarkPage::N8Click);
    ConnectHandler(m_widgets.NAddIEType, &QAction::triggered, this, &TBookmarkPage::NAddIETypeClick);
    ConnectHandler(m_widgets.NModIeType, &QAction::triggered, this, &TBookmarkPage::NModIeTypeClick);
    ConnectHandler(m_widgets.NDelIEType, &QAction::triggered, this, &TBookmarkPage::NDelIETypeClick);
    ConnectHandler(m_widgets.NMoveIEType, &QAction::triggered, this, &TBookmarkPage::NMoveIETypeClick);
    ConnectHandler(m_widgets.NMoveIE, &QAction::triggered, this, &TBookmarkPage::NMoveIEClick);
    m_groupCommands.Undo = new TUndoAction(m_widgets.pmIEType, m_widgets.NMoveIEType, "NUndoIEType");
    m_gridUndo = new TUndoAction(m_widgets.pmIE, m_widgets.NMoveIE, "NUndoIE");
    AddTagsColumn(IE);
    new TOnFirstEvent(m_widgets.page, QEvent::Show, [this] { RunHandler([this] { MakeControls(); }); });
}

TBookmarkPage::~TBookmarkPage() = default;

QTreeWidget* TBookmarkPage::Tree() const
{
    return ui ? ui->tvIE : nullptr;
}

TCardDBGrid* TBookmarkPage::Grid() const
{
    return ui ? ui->DBGrid1 : nullptr;
}

void TBookmarkPage::MakeControls()
{
    if (ui)
        return;
    ui = std::make_unique<Ui::TBookmarkPageForm>();
    ui->setupUi(m_widgets.page);
    ui->spl1->setSizes({200, 600});
    ui->DBGrid1->SetGridEvenColor(QColor(255, 251, 240));
    // The grid lists the highlighted group, however it was highlighted (a
    // click, a right-click, the keyboard, a group added, moved or deleted).
    ConnectHandler(ui->tvIE, &QTreeWidget::itemSelectionChanged, this, &TBookmarkPage::tvIEClick);
    ConnectHandler(ui->DBGrid1, &QAbstractItemView::doubleClicked, this, &TBookmarkPage::DBGrid1DblClick);
    BindGroupTree(ui->tvIE, m_widgets.pmIEType, m_widgets.NAddIEType, m_widgets.NModIeType, m_widgets.NDelIEType);
    BindPopupMenu(ui->DBGrid1, m_widgets.pmIE);
    BindColumnMenu(ui->DBGrid1, [this](QMenu* menu) { emit ColumnMenu(menu); });
    BindListKeys(ui->DBGrid1, m_widgets.N1, m_widgets.N3, m_widgets.N8);
    m_groupCommands.Undo->Bind(ui->tvIE);
    m_gridUndo->Bind(ui->DBGrid1);
    ShowEmptyHint(ui->DBGrid1, "右键单击可添加网址（Ctrl+N）", [grid = ui->DBGrid1] {
        const QAbstractItemModel* rows = grid->model();
        return !rows || (rows->rowCount() == 0 && !rows->canFetchMore(QModelIndex()));
    });
    EnableDragAndDrop();
    IETree = std::make_unique<TCardTree>(ui->tvIE, "全部", "IEType");
    IETree->ReadGroups();
    // The tree's top level and the list are made when the tree shows.
    ui->tvIE->installEventFilter(this);
    ShowMadeControls(m_widgets.page);
}

// Groups are dragged within the tree, bookmarks from the grid onto a group.
void TBookmarkPage::EnableDragAndDrop()
{
    EnableItemDrag(ui->tvIE, kGroupFormat, [](const QModelIndex& index) {
        const int self = index.data(Qt::UserRole).toInt();
        return self > 0 ? QString::number(self) : QString();
    });
    // The press made its row current and, unless it was among the selected
    // rows, the only selected one: the selected rows are what is dragged.
    EnableItemDrag(ui->DBGrid1, kBookmarkFormat, [this](const QModelIndex&) { return IdsText(SelectedIds()); });
    AcceptItemDrops(
        ui->tvIE, {kGroupFormat, kBookmarkFormat},
        [this](const QModelIndex& target, const QString& format, const QString& text) {
            return CanDrop(target.data(Qt::UserRole).toInt(), format, text);
        },
        [this](const QModelIndex& target, const QString& format, const QString& text) {
            const int parent = target.data(Qt::UserRole).toInt();
            if (format == kGroupFormat)
                m_groupCommands.MoveGroup(text.toInt(), parent);
            else
                MoveBookmarks(IdsOf(text), parent, ui->DBGrid1->SelectedRows().value(0));
        });
}

bool TBookmarkPage::CanDrop(int group, const QString& format, const QString& text)
{
    if (format == kGroupFormat)
        return CanMoveGroup(IETree->Groups, text.toInt(), group);
    return IETree->Groups.Contains(group) && IE.CountElsewhere(IdsOf(text), group) > 0;
}

QList<int> TBookmarkPage::SelectedIds() const
{
    QList<int> ids;
    TDataSet* set = CurrentBookmark();
    if (!set)
        return ids;
    for (int row : ui->DBGrid1->SelectedRows())
        ids.append(set->ValueAt(row, 0).toInt());
    return ids;
}

void TBookmarkPage::ShowStartupBookmarks()
{
    m_waiting = true;
    m_whenShown = nullptr;
    if (ui && ui->tvIE->isVisible())
        FillIfWaiting();
}

void TBookmarkPage::WhenShown(std::function<void()> step)
{
    if (m_waiting)
        m_whenShown = std::move(step);
    else
        step();
}

void TBookmarkPage::FillIfWaiting()
{
    MakeControls();
    if (!m_waiting)
        return;
    m_waiting = false;
    IETree->ShowTopLevel();
    ShowGroupIE(IE, ui->DBGrid1, 0);
    if (const std::function<void()> step = std::exchange(m_whenShown, nullptr))
        step();
}

bool TBookmarkPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->tvIE && event->type() == QEvent::Show && m_waiting)
        RunHandler([this] { FillIfWaiting(); });
    return QObject::eventFilter(watched, event);
}

void TBookmarkPage::ShowImported()
{
    FillIfWaiting();
    IETree->Reload();
    tvIEClick();
}

// The root lists every bookmark; a group only those filed directly under it.
void TBookmarkPage::tvIEClick()
{
    QTreeWidgetItem* node = IETree->Selected();
    ShowGroupIE(IE, ui->DBGrid1, !node || IETree->IsRoot(node) ? 0 : IETree->SelectedSelfIndex());
}

bool TBookmarkPage::ShowBookmark(int id)
{
    FillIfWaiting();
    const QString key = QString::number(id);
    if (DbGetIntValue("select count(*) from IE where ID=" + key) == 0)
        return false;
    // Its group as stored now: it may have moved since the search.
    const int stored = DbGetIntValue("select TypeID from IE where ID=" + key);
    QTreeWidgetItem* node = stored != 0 ? IETree->NodeOf(stored) : nullptr;
    if (!node)
        node = IETree->RootNode;
    ui->tvIE->setCurrentItem(node);
    ui->tvIE->scrollToItem(node);
    ShowGroupIE(IE, ui->DBGrid1, IETree->IsRoot(node) ? 0 : stored);
    TDataSet* set = ui->DBGrid1->DataSet();
    for (int row = 0; set && set->EnsureFetched(row + 1) > row; ++row) {
        if (set->ValueAt(row, 0).toInt() != id)
            continue;
        set->SetRecNo(row + 1);
        ui->DBGrid1->scrollTo(ui->DBGrid1->currentIndex());
        break;
    }
    ui->DBGrid1->setFocus(Qt::OtherFocusReason);
    return true;
}

void TBookmarkPage::N1Click()
{
    NewBookmark();
}

void TBookmarkPage::N5Click()
{
    NewBookmark();
}

void TBookmarkPage::NewBookmark()
{
    DbAccess->CheckWritable();
    QTreeWidgetItem* node = IETree->Selected();
    const QString name = !node || IETree->IsRoot(node) ? QString("全部") : node->text(0);
    const int addedBefore = ChooserGroupsAdded();
    const int lastIdBefore = DbGetIntValue("select coalesce(max(ID),0) from IE");
    int saved = 0;
    const int result = AskNewIE(IE, IETree->SelectedSelfIndex(), name, &saved);
    m_groupCommands.ReloadIfChooserAdded(addedBefore);
    // Bookmarks stored with "保存后继续新建" show even when the dialog then
    // ended with Cancel.
    if (result == mrOk || saved > 0) {
        RefreshBookmarks();
        emit BookmarksAdded(lastIdBefore);
    }
}

void TBookmarkPage::N2Click()
{
    DbAccess->CheckWritable();
    TDataSet* set = CurrentBookmark();
    if (!set)
        return;
    const int addedBefore = ChooserGroupsAdded();
    const int result = AskModIE(IE, set->AsString(0));
    m_groupCommands.ReloadIfChooserAdded(addedBefore);
    if (result == mrOk)
        RefreshBookmarks();
}

// Runs the list again after an add or a change, and fits the columns to it:
// the first bookmark of an empty list would otherwise show cut short.
void TBookmarkPage::RefreshBookmarks()
{
    DbAccess->RefreshGrid();
    FitGridColumns(ui->DBGrid1);
}

// One question for the selected rows, one transaction for them all.
void TBookmarkPage::N3Click()
{
    DbAccess->CheckWritable();
    TDataSet* set = CurrentBookmark();
    if (!set)
        return;
    const QList<int> rows = ui->DBGrid1->SelectedRows();
    if (rows.isEmpty())
        return;
    const QString question = rows.size() == 1
                                 ? QStringLiteral(u"确实要删除\uFF1A\uFF02") +
                                       TDataSet::Text(set->ValueAt(rows.first(), 1)) + QStringLiteral(u"\uFF02吗?")
                                 : QStringLiteral("确定要删除选中的 %1 个网址吗？").arg(rows.size());
    if (!AskYesNo(question + DeleteKeeper().Notice()))
        return;
    const QList<TBookmarkPlace> places = BookmarkPlaces(SelectedIds());
    const QList<qint64> entries = IE.DeleteIEs(SelectedIds());
    ShowRowsGone(rows.first(), false);
    m_gridUndo->Record(BookmarksText("删除", places), TakeBackDelete(entries, [this](int id) { ShowBookmark(id); }));
}

void TBookmarkPage::ShowRowsGone(int firstRow, bool fit)
{
    if (fit)
        RefreshBookmarks();
    else
        DbAccess->RefreshGrid();
    ui->DBGrid1->SetCurrentRow(firstRow);
}

void TBookmarkPage::N8Click()
{
    OpenCurrentBookmark();
}

void TBookmarkPage::DBGrid1DblClick()
{
    OpenCurrentBookmark();
}

void TBookmarkPage::OpenCurrentBookmark()
{
    TDataSet* set = CurrentBookmark();
    if (!set)
        return;
    OpenBookmarkAddress(m_widgets.window, set->AsString(3));
}

// The group commands show the selected group's bookmarks after every
// change; a group's bookmarks go with it.
TGroupPageParts TBookmarkPage::GroupParts()
{
    TGroupPageParts parts;
    parts.ItemTable = "IE";
    parts.BranchItems = [this](const QString& in) {
        return TBranchItems{IE.CountInGroups(in), "个网址", IE.DeleteGroupsStatement(in)};
    };
    parts.Added = [this] { tvIEClick(); };
    parts.Deleted = [this](int) {
        if (IETree->Selected())
            tvIEClick();
        else
            DbAccess->RefreshGrid();
    };
    parts.Moved = [this] { tvIEClick(); };
    parts.ChooseGroup = AskIETypeOf;
    return parts;
}

void TBookmarkPage::NMoveIEClick()
{
    DbAccess->CheckWritable();
    const QList<int> ids = SelectedIds();
    if (ids.isEmpty())
        return;
    const int firstRow = ui->DBGrid1->SelectedRows().value(0);
    const int addedBefore = ChooserGroupsAdded();
    // The chooser starts at the group shown (the bookmarks' own, or 全部).
    int typeId = IETree->Selected() ? IETree->SelectedSelfIndex() : -1;
    const int result = AskIETypeOf("移动到", typeId);
    m_groupCommands.ReloadIfChooserAdded(addedBefore);
    if (result == mrOk)
        MoveBookmarks(ids, typeId, firstRow);
}

void TBookmarkPage::MoveBookmarks(const QList<int>& ids, int typeId, int firstRow)
{
    DbAccess->CheckWritable();
    const QList<TBookmarkPlace> places = BookmarkPlaces(ids);
    IE.MoveIEs(ids, typeId);
    ShowRowsGone(firstRow, true);
    m_gridUndo->Record(BookmarksText("移动", places), [this, places] {
        PutBookmarksBack(places);
        ShowBookmark(places.first().Id);
    });
}
