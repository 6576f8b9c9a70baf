// The main window as the user left it: kept in SysSet.WindowState as one
// JSON object, written when the window is closed or hidden into the tray,
// read back at the next start.
#include "app/WindowMemory.h"

#include "app/UntConfig.h"
#include "bookmarks/BookmarkPage.h"
#include "bookmarks/IEList.h"
#include "controls/CardDBGrid.h"
#include "controls/UiPublic.h"
#include "data/MD.h"
#include "groups/UntTree.h"
#include "reminders/ReminderPage.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <utility>

// Keeps a window, frame and title bar included, inside the available area of
// its screen: never larger, never partly off it. A small screen or a large
// scale factor (800 x 520 at a factor of 2 needs 1600 x 1040 pixels) would
// otherwise leave the title bar out of reach. Fitted when the window is
// made, at every show, and again once the window manager's frame is known,
// which on some desktops is only after the window is on screen.
class TKeepOnScreen : public QObject
{
public:
    // Told the size the window had before each shrinking and the size it got.
    using TShrunk = std::function<void(QSize before, QSize after)>;

    TKeepOnScreen(QWidget* window, TShrunk shrunk) : m_window(window), m_shrunk(std::move(shrunk))
    {
        window->installEventFilter(this);
        Fit();
    }

    void Fit()
    {
        const QScreen* screen = m_window->screen();
        if (!screen)
            return;
        const QRect area = screen->availableGeometry();
        const QMargins frame = m_window->windowHandle() ? m_window->windowHandle()->frameMargins() : QMargins();
        m_frameKnown = !frame.isNull();
        const QSize most = area.size().shrunkBy(frame);
        if (m_window->width() > most.width() || m_window->height() > most.height()) {
            // The layout's least size may itself be too large for the screen:
            // the controls then get less room than they would like.
            m_window->setMinimumSize(m_window->minimumSizeHint().boundedTo(most));
            const QSize before = m_window->size();
            m_window->resize(before.boundedTo(most));
            m_shrunk(before, m_window->size());
        }
        const QSize outer = m_window->size().grownBy(frame);
        const QPoint at = m_window->pos(); // the frame's top left corner
        // Left and top win: the title bar stays on the screen whatever happens.
        const QPoint fitted(std::max(area.left(), std::min(at.x(), area.left() + area.width() - outer.width())),
                            std::max(area.top(), std::min(at.y(), area.top() + area.height() - outer.height())));
        if (fitted != at)
            m_window->move(fitted);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window) {
            if (event->type() == QEvent::Show) {
                Fit();
                QTimer::singleShot(0, this, [this] { Fit(); });
            } else if (!m_frameKnown && m_window->isVisible() &&
                       (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                        event->type() == QEvent::WindowActivate)) {
                Fit();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_window;
    TShrunk m_shrunk;
    bool m_frameKnown = false;
};

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

// The place kept, in this start's units. A place is in the units of the
// scale factor (QT_SCALE_FACTOR, the desktop's) the window had, counted from
// its screen's corner; one kept at another factor is converted to the same
// spot on the screen. The size stays: the window shows as much as before.
// A place kept without its factor (an older file) is taken as it is.
QPoint PlaceAtThisScale(const QJsonObject& state, const QScreen* screen)
{
    const QPoint kept(state.value("x").toInt(), state.value("y").toInt());
    const double keptScale = state.value("scale").toDouble();
    if (!screen || keptScale <= 0 || qFuzzyCompare(keptScale, screen->devicePixelRatio()))
        return kept;
    const QPointF corner = screen->geometry().topLeft();
    return (corner + (QPointF(kept) - corner) * (keptScale / screen->devicePixelRatio())).toPoint();
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
    SetTagsColumnShown(grid, state.value("ieTags").toBool(true));
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

TWindowMemory::TWindowMemory(TWindowMemoryParts parts) : m_parts(parts) {}

TWindowMemory::~TWindowMemory() = default;

void TWindowMemory::RestoreFrame()
{
    QWidget* const window = m_parts.Window;
    m_keepOnScreen = std::make_unique<TKeepOnScreen>(window, [this](QSize before, QSize after) {
        // A second shrinking (once the frame is known) starts from the
        // first one's result: the size chosen stays the one before both.
        if (before != m_fittedSize)
            m_chosenSize = before;
        m_fittedSize = after;
    });
    if (const QScreen* screen = window->screen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    RestoreSavedFrame();
    m_keepOnScreen->Fit();
}

void TWindowMemory::RestoreSavedFrame()
{
    QWidget* const window = m_parts.Window;
    // Read once, here; a state that cannot be read is no reason not to start.
    try {
        m_windowState = m_parts.Config.LoadWindowState();
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
    window->resize(QSize(width, height).expandedTo(window->minimumSizeHint()));
    window->move(PlaceAtThisScale(state, window->screen()));
    if (state.value("maximized").toBool())
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

void TWindowMemory::RestorePlaces()
{
    const QJsonObject state = Parse(m_windowState);
    if (!state.isEmpty()) {
        TCardTree& noteTree = *m_parts.NoteTree;
        OpenBranchesAgain(noteTree, state.value("noteOpen").toArray());
        const int note = state.value("noteGroup").toInt(-1);
        if (note > 0)
            if (QTreeWidgetItem* node = noteTree.NodeOf(note))
                m_parts.NoteView->setCurrentItem(node);
        // The bookmark page's part waits for its tree and list.
        TBookmarkPage& bookmarks = m_parts.BookmarkPage;
        bookmarks.WhenShown(
            [this, &bookmarks, state] { RestoreBookmarkPlaces(*m_parts.IETree, bookmarks, bookmarks.Grid(), state); });
        const int page = state.value("page").toInt();
        if (page >= 0 && page < m_parts.Pages->count())
            m_parts.Pages->setCurrentIndex(page);
    }
    m_pagesLoaded = true;
    FocusShownPage();
}

// At the start the keyboard is in the tree (or list) of the page shown.
void TWindowMemory::FocusShownPage()
{
    QWidget* const views[] = {m_parts.NoteView, m_parts.ReminderPage.List(), m_parts.BookmarkPage.Tree()};
    const int page = m_parts.Pages->currentIndex();
    if (page >= 0 && page < 3 && views[page])
        views[page]->setFocus(Qt::OtherFocusReason);
}

// A bookmark page never shown keeps what was remembered of it.
void TWindowMemory::SaveBookmarkPlaces(QJsonObject& state)
{
    const std::unique_ptr<TCardTree>& tree = m_parts.IETree;
    if (!tree) {
        const QJsonObject remembered = Parse(m_windowState);
        for (const char* key : {"ieGroup", "ieOpen", "columns", "ieTags"})
            if (remembered.contains(key))
                state[key] = remembered.value(key);
        return;
    }
    m_parts.BookmarkPage.FillIfWaiting();
    state["ieGroup"] = SelectedGroup(*tree);
    state["ieOpen"] = OpenBranches(*tree);
    QJsonArray widths;
    const QHeaderView* header = m_parts.BookmarkPage.Grid()->horizontalHeader();
    for (int i = 0; i < header->count(); ++i)
        widths.append(header->sectionSize(i));
    state["columns"] = widths;
    state["ieTags"] = TagsColumnShown();
}

void TWindowMemory::Save()
{
    // Nothing was loaded (the login was cancelled), or nothing may be written.
    const std::unique_ptr<TCardTree>& noteTree = m_parts.NoteTree;
    if (!m_pagesLoaded || !noteTree || DbAccess->ReadOnly())
        return;
    const QWidget* const window = m_parts.Window;
    QJsonObject state;
    // The place and size the window has when not maximised, frame included
    // in the place as move() takes it.
    const QRect normal = window->isMaximized() || window->isMinimized() ? window->normalGeometry() : window->geometry();
    const QPoint frameOffset = window->geometry().topLeft() - window->pos();
    state["x"] = normal.x() - frameOffset.x();
    state["y"] = normal.y() - frameOffset.y();
    const QSize kept = normal.size() == m_fittedSize && m_chosenSize.isValid() ? m_chosenSize : normal.size();
    state["width"] = kept.width();
    state["height"] = kept.height();
    state["maximized"] = window->isMaximized();
    state["scale"] = window->devicePixelRatioF();
    state["page"] = m_parts.Pages->currentIndex();
    state["noteGroup"] = SelectedGroup(*noteTree);
    state["noteOpen"] = OpenBranches(*noteTree);
    SaveBookmarkPlaces(state);
    if (const QString folder = LastFolder(); !folder.isEmpty())
        state["folder"] = folder;
    // Kept for the next start only: a busy file costs the memory, not the exit.
    try {
        m_parts.Config.SaveWindowState(Compact(state));
    } catch (const std::exception&) {
    }
}

QList<int> TWindowMemory::ColumnWidths() const
{
    QList<int> widths;
    for (const QJsonValue& width : Parse(m_windowState).value("columns").toArray())
        widths.append(width.toInt(-1));
    return widths;
}

QString TWindowMemory::LastFolder() const
{
    return Parse(m_windowState).value("folder").toString();
}

// Kept with the window's state and written with it: choosing a file never
// writes to the data file by itself (a refused restore leaves it as it was).
void TWindowMemory::RememberFolder(const QString& folder)
{
    QJsonObject state = Parse(m_windowState);
    state["folder"] = folder;
    m_windowState = Compact(state);
}

QString TWindowMemory::AskSaveIn(const QString& filter, const QString& what, const QString& suffix)
{
    const QString chosen = AskSaveFileName(m_parts.Window, filter, ProposedFileName(LastFolder(), what, suffix));
    if (!chosen.isEmpty())
        RememberFolder(QFileInfo(chosen).absolutePath());
    return chosen;
}

QString TWindowMemory::AskOpenIn(const QString& filter)
{
    const QString chosen = AskOpenFileName(m_parts.Window, filter, StartFolder(LastFolder()));
    if (!chosen.isEmpty())
        RememberFolder(QFileInfo(chosen).absolutePath());
    return chosen;
}

QString TWindowMemory::AskFolderIn()
{
    const QString chosen = AskFolderName(m_parts.Window, StartFolder(LastFolder()));
    if (!chosen.isEmpty())
        RememberFolder(QFileInfo(chosen).absoluteFilePath());
    return chosen;
}
