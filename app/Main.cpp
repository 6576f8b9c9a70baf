#include "app/Main.h"

#include "app/Stores.h"
#include "bookmarks/BookmarkPage.h"
#include "notes/NotepadPage.h"
#include "reminders/ReminderPage.h"
#include "search/SearchPanel.h"

#include "controls/CardIcons.h"
#include "controls/FirstEvent.h"
#include "data/MD.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "groups/BaseDlg.h"
#include "groups/UntTree.h"
#include "ui_Main.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QScopedValueRollback>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace {
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

    TKeepOnScreen(QWidget* window, TShrunk shrunk) : QObject(window), m_window(window), m_shrunk(std::move(shrunk))
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
} // namespace

TFormMain::TFormMain(QWidget* parent)
    : QWidget(parent), m_stores(std::make_unique<TStores>()), ui(std::make_unique<Ui::TFormMain>())
{
    PreloadAppIcon();
    // The note groups are read beside the building of the window; the
    // bookmark groups with their page.
    m_groupPrefetch = std::make_unique<TGroupPrefetch>(DbAccess, QStringList{"NoteType"});
    SetDialogOwner(this);
    ui->setupUi(this);
    setWindowIcon(AppIcon());
    ui->splNote->setSizes({200, 600});
    QFont font13 = ui->mmoNote->font();
    font13.setPixelSize(13);
    ui->mmoNote->setFont(font13);
    BuildMenus();
    tmr1 = new QTimer(this);
    tmr1->setObjectName("tmr1");
    tmr1->setInterval(1000);
    tmr1->start();
    ConnectHandler(ui->btnSystem, &QPushButton::clicked, this, &TFormMain::btnSystemClick);
    ConnectHandler(ui->NHomePage, &QAction::triggered, this, &TFormMain::NHomePageClick);
    ConnectHandler(ui->NTrayHomePage, &QAction::triggered, this, &TFormMain::NHomePageClick);
    m_notepadPage =
        std::make_unique<TNotepadPage>(TNotepadWidgets{ui->tvNote, ui->mmoNote, ui->edtQuery, ui->btn2,
                                                       ui->NAddNoteType, ui->NModNoteType, ui->NDelNoteType,
                                                       ui->NMoveNoteType},
                                       NoteTree, m_stores->Note);
    m_bookmarkPage = std::make_unique<TBookmarkPage>(
        TBookmarkWidgets{this, ui->ts1, pmIEType, pmIE, ui->N1, ui->N5, ui->N2, ui->N3, ui->N8, ui->NAddIEType,
                         ui->NModIeType, ui->NDelIEType, ui->NMoveIEType, ui->NMoveIE},
        IETree, m_stores->IE);
    m_reminderPage = std::make_unique<TReminderPage>(
        TReminderWidgets{ui->tsAlam, pmAlam, ui->NAddAlam, ui->NModAlam, ui->NDelAlam}, m_stores->Alam);
    m_searchPanel = std::make_unique<TSearchPanel>(this, ui->pgcMain);
    m_searchPanel->OnOpen = [this](const TSearchResult& result, const QStringList& words) {
        return OpenSearchResult(result, words);
    };
    m_searchPanel->GroupsOf = [this](TSearchKind kind) -> const TGroupTable* {
        if (kind != TSearchKind::Note)
            m_bookmarkPage->MakeControls(); // the bookmark groups are read with the page's tree
        const std::unique_ptr<TCardTree>& tree = kind == TSearchKind::Note ? NoteTree : IETree;
        return tree ? &tree->Groups : nullptr;
    };
    ConnectHandler(tmr1, &QTimer::timeout, this, &TFormMain::tmr1Timer);
    WireShell();
    FormCreate();
    auto* keepOnScreen = new TKeepOnScreen(this, [this](QSize before, QSize after) {
        // A second shrinking (once the frame is known) starts from the
        // first one's result: the size chosen stays the one before both.
        if (before != m_fittedSize)
            m_chosenSize = before;
        m_fittedSize = after;
    });
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    RestoreWindowFrame();
    keepOnScreen->Fit();
}

TFormMain::~TFormMain() = default;

void TFormMain::BuildMenus()
{
    const auto menu = [this](const char* name, const QList<QAction*>& items) {
        auto* popup = new QMenu(this);
        popup->setObjectName(name);
        for (QAction* item : items) {
            if (item)
                popup->addAction(item);
            else
                popup->addSeparator();
        }
        return popup;
    };
    pmNoteType = menu("pmNoteType", {ui->NAddNoteType, ui->NModNoteType, ui->NDelNoteType, ui->NMoveNoteType});
    pmIEType = menu("pmIEType", {ui->NAddIEType, ui->NModIeType, ui->NDelIEType, ui->NMoveIEType, nullptr, ui->N5});
    pmIE = menu("pmIE", {ui->N1, ui->N2, ui->N3, ui->NMoveIE, nullptr, ui->N8});
    pmAlam = menu("pmAlam", {ui->NAddAlam, ui->NModAlam, ui->NDelAlam});
    pmSystem = menu("pmSystem", {ui->NHomePage, nullptr, ui->NSetup, nullptr, ui->NBackup, ui->NRestore, nullptr,
                                 ui->NImportNotes, ui->NExportNotes, ui->NImportIE, ui->NExportIE});
    ui->NExportNotes->setMenu(menu("pmExportNotes", {ui->NExportNotesTree, ui->NExportNotesMd}));
    pmTray = menu("pmTray", {ui->NTrayHomePage, nullptr, ui->NShowForm, ui->NClose});
    BindGroupTree(ui->tvNote, pmNoteType, ui->NAddNoteType, ui->NModNoteType, ui->NDelNoteType);
}

void TFormMain::FormCreate()
{
    NoteTree = std::make_unique<TCardTree>(ui->tvNote, "根目录", "NoteType");
}

void TFormMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    try {
        FormShow();
    } catch (const EAbort&) {
        Terminate(1);
    } catch (const std::exception& error) {
        // Loading failed before the program could run: a last-resort box,
        // then the program ends.
        const auto* plain = dynamic_cast<const EError*>(&error);
        ShowError(plain ? plain->Message() : QString::fromLocal8Bit(error.what()));
        Terminate(1);
    }
}

// The first show's steps, in their order; each subsystem's step lives in its folder.
void TFormMain::FormShow()
{
    LoadConfigAndLogin();
    // Closed from the tray menu while the login was open: nothing more to load.
    if (m_closed)
        return;
    NoteTree->LoadGroups(m_groupPrefetch.get());
    m_groupPrefetch.reset();
    m_bookmarkPage->ShowStartupBookmarks();
    m_reminderPage->ShowStartupReminders();
    ShowAutoRunState();
    m_notepadPage->ShowStartupNote();
    RestoreWindowPlaces();
    // Said once; from now on the memo takes no typing and every command that
    // changes data refuses before it asks anything.
    if (DbAccess->ReadOnly()) {
        emit WaitingForUser();
        ShowInfo("数据文件只读，所做修改不会保存。");
    }
}

void TFormMain::WatchIntegrity()
{
    // The reminders' tick, which writes, waits for the verdict. The check
    // would share the cores with the first paint.
    tmr1->stop();
    AfterFirstPaint([this] { BeginIntegrityCheck(); });
}

void TFormMain::AfterFirstPaint(std::function<void()> step)
{
    auto pending = std::make_shared<std::function<void()>>(std::move(step));
    const auto once = [pending] {
        if (*pending)
            std::exchange(*pending, nullptr)();
    };
    new TOnFirstEvent(this, QEvent::Paint, [this, once] { QTimer::singleShot(0, this, once); });
    QTimer::singleShot(2000, this, once);
}

void TFormMain::BeginIntegrityCheck()
{
    if (m_integrityCheckBegun)
        return;
    m_integrityCheckBegun = true;
    // The application outlives the data access, whose destruction waits for
    // the check; the window may be gone by the time the verdict arrives.
    DbAccess->BeginIntegrityCheck([window = QPointer<TFormMain>(this)] {
        QMetaObject::invokeMethod(
            qApp,
            [window] {
                if (!window)
                    return;
                if (VerifyDatabase())
                    window->tmr1->start();
                else
                    window->Terminate(1);
            },
            Qt::QueuedConnection);
    });
}

void TFormMain::Terminate(int exitCode)
{
    m_terminate = true;
    m_exitCode = exitCode;
    QTimer::singleShot(0, qApp, [exitCode] { QCoreApplication::exit(exitCode); });
}

void TFormMain::tmr1Timer()
{
    // The error box of a failing tick runs an event loop of its own, which
    // delivers further ticks: they wait until the box is closed.
    if (m_tickRunning)
        return;
    const QScopedValueRollback<bool> running(m_tickRunning, true);
    m_reminderPage->tmr1Timer();
    m_notepadPage->RetryUnsavedNote();
}

// The result's page comes first, so that its control can take the focus;
// the page shown before comes back when the item is gone.
bool TFormMain::OpenSearchResult(const TSearchResult& result, const QStringList& words)
{
    QWidget* const before = ui->pgcMain->currentWidget();
    bool shown = false;
    if (result.Kind == TSearchKind::Note) {
        ui->pgcMain->setCurrentWidget(ui->tsNote);
        shown = m_notepadPage->ShowGroupMatch(result.GroupId, words);
    } else if (result.Kind == TSearchKind::Bookmark) {
        ui->pgcMain->setCurrentWidget(ui->ts1);
        shown = m_bookmarkPage->ShowBookmark(result.Id);
    } else {
        ui->pgcMain->setCurrentWidget(ui->tsAlam);
        shown = m_reminderPage->ShowReminder(result.Id);
    }
    if (!shown)
        ui->pgcMain->setCurrentWidget(before);
    return shown;
}

void TFormMain::btnSystemClick()
{
    pmSystem->popup(QCursor::pos());
}

void TFormMain::NHomePageClick()
{
    ShellOpen(this, HomePagePath());
}

QString HomePagePath()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/home.html";
    if (QFileInfo::exists(beside))
        return beside;
    const QString shared = QCoreApplication::applicationDirPath() + "/../share/jotterel/home.html";
    if (QFileInfo::exists(shared))
        return QDir::cleanPath(shared);
    // Neither beside the program nor installed: hand the desktop a copy of
    // the embedded page, in a folder of this user's alone (the runtime
    // folder is private by definition), never in the shared temporary
    // folder where another user could have put a page of their own.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        QDir().mkpath(folder);
    }
    const QString copy = folder + "/jotterel-home.html";
    QFile::remove(copy);
    QFile::copy(":/home.html", copy);
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    return copy;
}
