#include "links/LinkWiring.h"

#include "bookmarks/BookmarkPage.h"
#include "bookmarks/UntIE.h"
#include "controls/CardDBGrid.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/DataSet.h"
#include "data/MD.h"
#include "groups/UntTree.h"
#include "links/LinkChecker.h"
#include "links/LinkStore.h"

#include <QAction>
#include <QMenu>
#include <QProgressDialog>

namespace {
const QString kStatusTitle = QStringLiteral("状态");
const QString kTitleField = QStringLiteral("标题");

// The menu owns its items: they are found there like the page's own.
QAction* AddItem(QMenu* menu, const QString& text, const char* name)
{
    auto* action = new QAction(text, menu);
    action->setObjectName(name);
    menu->addAction(action);
    return action;
}

TDataSet* GridSet()
{
    TDataSet* set = DbAccess ? DbAccess->GridSet.get() : nullptr;
    return set && set->Active() && set->FieldName(0) == "ID" ? set : nullptr;
}

// The grid's 状态 column, and with 只看失效的 only 失效 and 可能失效, around
// the bookmark list's statement.
TIEListExtension StatusColumn(bool onlyBroken)
{
    return {LinkStatusColumnSql() + " as 状态", "left join LinkCheck LC on LC.IEID = L.ID",
            onlyBroken ? BrokenLinkConditionSql() : QString()};
}

QString ProgressText(int done, int total)
{
    return QString("正在检查网址……（%1 / %2）\n检查时可以照常使用程序。").arg(done).arg(total);
}
} // namespace

TLinkWiring::TLinkWiring(const TLinkParts& parts)
    : QObject(&parts.Page), m_window(parts.Window), m_page(parts.Page), m_ie(parts.IE), m_tree(parts.Tree),
      m_rememberedWidths(parts.RememberedWidths)
{
    QMenu* const groupMenu = parts.GroupMenu;
    QMenu* const gridMenu = parts.GridMenu;
    groupMenu->addSeparator();
    m_checkGroup = AddItem(groupMenu, "检查网址", "NCheckLinksGroup");
    gridMenu->addSeparator();
    m_checkRows = AddItem(gridMenu, "检查网址", "NCheckLinks");
    m_updateRows = AddItem(gridMenu, "更新为新网址", "NUpdateUrl");
    m_onlyBroken = AddItem(gridMenu, "只看失效的", "NOnlyBroken");
    m_onlyBroken->setCheckable(true);
    ConnectHandler(m_checkGroup, &QAction::triggered, this, &TLinkWiring::CheckGroup);
    ConnectHandler(m_checkRows, &QAction::triggered, this, &TLinkWiring::CheckRows);
    ConnectHandler(m_updateRows, &QAction::triggered, this, &TLinkWiring::UpdateRows);
    connect(m_onlyBroken, &QAction::toggled, this, [this](bool on) { RunHandler([&] { ShowOnlyBroken(on); }); });
    m_ie.SetListExtension("links", StatusColumn(false));
    TGridSource* source = DbAccess->GridSource.get();
    source->ExtraRoles = [this](int row, int column, int role) { return Decoration(row, column, role); };
    m_resetConnection =
        connect(source, &QAbstractItemModel::modelReset, this, [this] { RunHandler([this] { GridReset(); }); });
    connect(&m_page, &TBookmarkPage::ColumnMenu, this, &TLinkWiring::AddColumnItem);
    connect(&m_page, &TBookmarkPage::BookmarksAdded, this,
            [this](int lastIdBefore) { RunHandler([&] { FetchNewIcons(lastIdBefore); }); });
}

TLinkWiring::~TLinkWiring()
{
    if (m_checker)
        m_checker->disconnect(this); // its stop at the end tells nobody
    if (DbAccess && DbAccess->GridSource)
        DbAccess->GridSource->ExtraRoles = nullptr;
}

QList<int> TLinkWiring::SelectedIds() const
{
    QList<int> ids;
    TCardDBGrid* grid = m_page.Grid();
    TDataSet* set = GridSet();
    if (!grid || !set || set->IsEmpty())
        return ids;
    for (int row : grid->SelectedRows())
        ids.append(set->ValueAt(row, 0).toInt());
    return ids;
}

void TLinkWiring::CheckGroup()
{
    QTreeWidgetItem* node = m_tree ? m_tree->Selected() : nullptr;
    Check(LinkTargetsOfGroup(!node || m_tree->IsRoot(node) ? 0 : m_tree->SelectedSelfIndex()));
}

void TLinkWiring::CheckRows()
{
    Check(LinkTargetsOf(SelectedIds()));
}

void TLinkWiring::Check(const QList<TLinkTarget>& targets)
{
    if (m_checker)
        return;
    DbAccess->CheckWritable();
    if (targets.isEmpty()) {
        ShowInfo("没有可以检查的网址（只检查以 http 或 https 开头的网址）。");
        return;
    }
    TLinkCheckSettings settings;
    settings.FetchIcons = FetchIconsEnabled();
    m_checker = std::make_unique<TLinkChecker>(settings);
    auto* progress =
        new QProgressDialog(ProgressText(0, int(targets.size())), "取消", 0, int(targets.size()), m_window);
    progress->setWindowTitle("检查网址");
    progress->setAccessibleName("检查网址");
    progress->setObjectName("dlgCheckLinks");
    progress->setWindowModality(Qt::NonModal);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress = progress;
    connect(progress, &QProgressDialog::canceled, this, [this] {
        if (m_checker)
            m_checker->Cancel();
    });
    connect(m_checker.get(), &TLinkChecker::Progress, progress, [progress](int done, int total) {
        progress->setMaximum(total);
        progress->setValue(done);
        progress->setLabelText(ProgressText(done, total));
    });
    connect(m_checker.get(), &TLinkChecker::IconStored, this, [this](qint64 id) {
        m_icons.remove(id);
        if (TCardDBGrid* grid = m_page.Grid())
            grid->viewport()->update();
    });
    m_moved.clear();
    connect(m_checker.get(), &TLinkChecker::Checked, this,
            [this](const TLinkTarget& target, const TLinkOutcome& outcome) {
                if (outcome.Permanent())
                    m_moved.append(target.Id);
            });
    connect(m_checker.get(), &TLinkChecker::Finished, this,
            [this](bool cancelled) { RunHandler([&] { CheckEnded(cancelled); }); });
    m_checkGroup->setEnabled(false);
    m_checkRows->setEnabled(false);
    progress->show();
    m_checker->Start(targets);
}

// The results show in the grid at once; the permanent redirects found are
// offered to be taken, never taken unasked.
void TLinkWiring::CheckEnded(bool cancelled)
{
    TLinkChecker* checker = m_checker.release();
    checker->deleteLater(); // this runs within its signal
    m_checkGroup->setEnabled(true);
    m_checkRows->setEnabled(true);
    if (m_progress) {
        m_progress->disconnect(this);
        m_progress->close();
    }
    const QString summary = (cancelled ? "检查已停止。" : "检查完毕。") + checker->Summary();
    if (m_page.Grid())
        DbAccess->RefreshGrid();
    const QList<qint64> moved = std::exchange(m_moved, {});
    if (moved.isEmpty()) {
        ShowInfo(summary);
        return;
    }
    if (AskYesNo(summary + QString("\r\n有 %1 个网址已永久跳转到新网址，要全部更新为新网址吗？").arg(moved.size()))) {
        ApplyNewUrls(moved);
        DbAccess->RefreshGrid();
    }
}

void TLinkWiring::UpdateRows()
{
    DbAccess->CheckWritable();
    const QList<int> ids = SelectedIds();
    if (ids.isEmpty())
        return;
    if (ApplyNewUrls(QList<qint64>(ids.begin(), ids.end())) == 0) {
        ShowInfo("选中的网址没有永久跳转到新网址。");
        return;
    }
    DbAccess->RefreshGrid();
}

void TLinkWiring::ShowOnlyBroken(bool on)
{
    m_ie.SetListExtension("links", StatusColumn(on));
    if (m_page.Grid())
        m_page.ShowSelectedGroup();
}

void TLinkWiring::GridReset()
{
    m_icons.clear();
    TCardDBGrid* grid = m_page.Grid();
    if (!grid || !GridSet())
        return;
    if (!m_gridBound) {
        m_gridBound = true;
        // The grid took the model just now, and its titles start over after
        // this: from now on the column is hidden after them, this time once
        // they are done.
        disconnect(m_resetConnection);
        m_resetConnection = connect(DbAccess->GridSource.get(), &QAbstractItemModel::modelReset, this,
                                    [this] { RunHandler([this] { GridReset(); }); });
        QMetaObject::invokeMethod(
            this, [this] { RunHandler([this] { ApplyColumnState(); }); }, Qt::QueuedConnection);
        return;
    }
    ApplyColumnState();
}

void TLinkWiring::AddColumnItem(QMenu* menu)
{
    QAction* status = menu->addAction("显示“状态”列");
    status->setCheckable(true);
    status->setChecked(m_statusHidden != 1);
    connect(status, &QAction::triggered, this, [this](bool shown) {
        RunHandler([&] {
            m_statusHidden = shown ? 0 : 1;
            ApplyColumnState();
            if (shown && m_page.Grid())
                FitGridColumns(m_page.Grid());
        });
    });
}

// The window keeps the grid's column widths, a hidden column's as 0: the
// choice comes back with them.
void TLinkWiring::ApplyColumnState()
{
    TCardDBGrid* grid = m_page.Grid();
    TDataSet* set = GridSet();
    const int column = set ? set->FieldIndex(kStatusTitle) : -1;
    if (!grid || column < 0)
        return;
    if (m_statusHidden < 0)
        m_statusHidden = RememberedHidden() ? 1 : 0;
    grid->setColumnHidden(column, m_statusHidden == 1);
}

bool TLinkWiring::RememberedHidden() const
{
    TDataSet* set = GridSet();
    const int column = set ? set->FieldIndex(kStatusTitle) : -1;
    const QList<int> widths = m_rememberedWidths ? m_rememberedWidths() : QList<int>();
    return column >= 0 && widths.size() == set->FieldCount() && widths[column] == 0;
}

QVariant TLinkWiring::Decoration(int row, int column, int role)
{
    TDataSet* set = GridSet();
    if (role != Qt::DecorationRole || !set || set->FieldName(column) != kTitleField)
        return {};
    try {
        const qint64 id = set->ValueAt(row, 0).toLongLong();
        auto found = m_icons.find(id);
        if (found == m_icons.end()) {
            QPixmap icon;
            icon.loadFromData(SiteIcon(id));
            found = m_icons.insert(id, icon);
        }
        return found->isNull() ? QVariant() : QVariant(*found);
    } catch (const std::exception&) {
        return {}; // a cell is drawn without its icon rather than not at all
    }
}

void TLinkWiring::FetchNewIcons(int lastIdBefore)
{
    if (!FetchIconsEnabled())
        return;
    QList<int> ids;
    const std::unique_ptr<TDataSet> set = DbAccess->Query(QString("select ID from IE where ID>%1").arg(lastIdBefore));
    for (; !set->Eof(); set->Next())
        ids.append(set->AsInteger(0));
    if (!m_iconFetcher) {
        m_iconFetcher = std::make_unique<TLinkChecker>(TLinkCheckSettings());
        connect(m_iconFetcher.get(), &TLinkChecker::IconStored, this, [this](qint64 id) {
            m_icons.remove(id);
            if (TCardDBGrid* grid = m_page.Grid())
                grid->viewport()->update();
        });
    }
    for (const TLinkTarget& target : LinkTargetsOf(ids))
        m_iconFetcher->FetchIcon(target);
}
