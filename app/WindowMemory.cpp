// The main window as the user left it: kept in SysSet.WindowState as one
// JSON object, written when the window is closed or hidden into the tray,
// read back at the next start.
#include "app/Main.h"
#include "app/Stores.h"
#include "bookmarks/BookmarkPage.h"
#include "controls/CardDBGrid.h"
#include "controls/UiPublic.h"
#include "data/MD.h"
#include "groups/UntTree.h"
#include "reminders/ReminderPage.h"
#include "ui_Main.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <functional>

namespace {
QJsonObject Parse(const QString& state)
{
    return QJsonDocument::fromJson(state.toUtf8()).object();
}

QString Compact(const QJsonObject& state)
{
    return QString::fromUtf8(QJsonDocument(state).toJson(QJsonDocument::Compact));
}

QJsonArray OpenBranches(const TCardTree& tree)
{
    QJsonArray open;
    for (QTreeWidgetItemIterator it(tree.RootNode); *it; ++it)
        if (*it != tree.RootNode && (*it)->isExpanded())
            open.append(TCardTree::SelfIndexOf(*it));
    return open;
}

void OpenBranchesAgain(TCardTree& tree, const QJsonArray& open)
{
    for (const QJsonValue& group : open)
        if (QTreeWidgetItem* node = tree.NodeOf(group.toInt())) {
            tree.CreateChildren(node);
            node->setExpanded(true);
        }
}

// The bookmark page's part, once its tree and list are there.
void RestoreBookmarkPlaces(TCardTree& tree, TBookmarkPage& page, TCardDBGrid* grid, const QJsonObject& state)
{
    OpenBranchesAgain(tree, state.value("ieOpen").toArray());
    const int ie = state.value("ieGroup").toInt(-1);
    if (ie >= 0)
        if (QTreeWidgetItem* node = tree.NodeOf(ie)) {
            tree.TreeView->setCurrentItem(node);
            page.ShowSelectedGroup();
        }
    // The widths stand over the grid's own fitting.
    const QJsonArray widths = state.value("columns").toArray();
    QHeaderView* header = grid->horizontalHeader();
    if (widths.size() == header->count()) {
        for (int i = 0; i < widths.size(); ++i)
            if (!header->isSectionHidden(i) && widths[i].toInt() > 0)
                header->resizeSection(i, widths[i].toInt());
        grid->KeepColumnWidths();
    }
}

// The last selected group; -1 when none is.
int SelectedGroup(const TCardTree& tree)
{
    return tree.Selected() ? tree.SelectedSelfIndex() : -1;
}
} // namespace

void TFormMain::RestoreWindowFrame()
{
    // Read once, here; a state that cannot be read is no reason not to start.
    try {
        m_windowState = m_stores->Config.LoadWindowState();
    } catch (const std::exception&) {
        m_windowState.clear();
    }
    const QJsonObject state = Parse(m_windowState);
    const int width = state.value("width").toInt();
    const int height = state.value("height").toInt();
    if (width <= 0 || height <= 0)
        return;
    // Where the screen has become smaller, keeping the window on it is the
    // next step's part; the size asked for here is then the one kept.
    m_chosenSize = m_fittedSize = QSize();
    resize(QSize(width, height).expandedTo(minimumSizeHint()));
    move(state.value("x").toInt(), state.value("y").toInt());
    if (state.value("maximized").toBool())
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TFormMain::RestoreWindowPlaces()
{
    const QJsonObject state = Parse(m_windowState);
    if (!state.isEmpty()) {
        OpenBranchesAgain(*NoteTree, state.value("noteOpen").toArray());
        const int note = state.value("noteGroup").toInt(-1);
        if (note > 0)
            if (QTreeWidgetItem* node = NoteTree->NodeOf(note))
                ui->tvNote->setCurrentItem(node);
        // The bookmark page's part waits for its tree and list.
        m_bookmarkPage->WhenShown(
            [this, state] { RestoreBookmarkPlaces(*IETree, *m_bookmarkPage, m_bookmarkPage->Grid(), state); });
        const int page = state.value("page").toInt();
        if (page >= 0 && page < ui->pgcMain->count())
            ui->pgcMain->setCurrentIndex(page);
    }
    m_pagesLoaded = true;
    FocusShownPage();
}

// At the start the keyboard is in the tree (or list) of the page shown.
void TFormMain::FocusShownPage()
{
    QWidget* const views[] = {ui->tvNote, m_reminderPage->List(), m_bookmarkPage->Tree()};
    const int page = ui->pgcMain->currentIndex();
    if (page >= 0 && page < 3 && views[page])
        views[page]->setFocus(Qt::OtherFocusReason);
}

// A bookmark page never shown keeps what was remembered of it.
void TFormMain::SaveBookmarkPlaces(QJsonObject& state)
{
    if (!IETree) {
        const QJsonObject remembered = Parse(m_windowState);
        for (const char* key : {"ieGroup", "ieOpen", "columns"})
            if (remembered.contains(key))
                state[key] = remembered.value(key);
        return;
    }
    m_bookmarkPage->FillIfWaiting();
    state["ieGroup"] = SelectedGroup(*IETree);
    state["ieOpen"] = OpenBranches(*IETree);
    QJsonArray widths;
    const QHeaderView* header = m_bookmarkPage->Grid()->horizontalHeader();
    for (int i = 0; i < header->count(); ++i)
        widths.append(header->sectionSize(i));
    state["columns"] = widths;
}

void TFormMain::SaveWindowState()
{
    // Nothing was loaded (the login was cancelled), or nothing may be written.
    if (!m_pagesLoaded || !NoteTree || DbAccess->ReadOnly())
        return;
    QJsonObject state;
    // The place and size the window has when not maximised, frame included
    // in the place as move() takes it.
    const QRect normal = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    const QPoint frameOffset = geometry().topLeft() - pos();
    state["x"] = normal.x() - frameOffset.x();
    state["y"] = normal.y() - frameOffset.y();
    const QSize kept = normal.size() == m_fittedSize && m_chosenSize.isValid() ? m_chosenSize : normal.size();
    state["width"] = kept.width();
    state["height"] = kept.height();
    state["maximized"] = isMaximized();
    state["page"] = ui->pgcMain->currentIndex();
    state["noteGroup"] = SelectedGroup(*NoteTree);
    state["noteOpen"] = OpenBranches(*NoteTree);
    SaveBookmarkPlaces(state);
    if (const QString folder = LastFolder(); !folder.isEmpty())
        state["folder"] = folder;
    // Kept for the next start only: a busy file costs the memory, not the exit.
    try {
        m_stores->Config.SaveWindowState(Compact(state));
    } catch (const std::exception&) {
    }
}

QString TFormMain::LastFolder() const
{
    return Parse(m_windowState).value("folder").toString();
}

// Kept with the window's state and written with it: choosing a file never
// writes to the data file by itself (a refused restore leaves it as it was).
void TFormMain::RememberFolder(const QString& folder)
{
    QJsonObject state = Parse(m_windowState);
    state["folder"] = folder;
    m_windowState = Compact(state);
}

QString TFormMain::AskSaveIn(const QString& filter, const QString& what, const QString& suffix)
{
    const QString chosen = AskSaveFileName(this, filter, ProposedFileName(LastFolder(), what, suffix));
    if (!chosen.isEmpty())
        RememberFolder(QFileInfo(chosen).absolutePath());
    return chosen;
}

QString TFormMain::AskOpenIn(const QString& filter)
{
    const QString chosen = AskOpenFileName(this, filter, StartFolder(LastFolder()));
    if (!chosen.isEmpty())
        RememberFolder(QFileInfo(chosen).absolutePath());
    return chosen;
}

QString TFormMain::AskFolderIn()
{
    const QString chosen = AskFolderName(this, StartFolder(LastFolder()));
    if (!chosen.isEmpty())
        RememberFolder(QFileInfo(chosen).absoluteFilePath());
    return chosen;
}
