#include "app/Main.h"

#include "app/SingleInstance.h"
#include "app/Stores.h"
#include "app/Tray.h"
#include "app/WindowMemory.h"
#include "bookmarks/BookmarkPage.h"
#include "notes/NotepadPage.h"
#include "reminders/ReminderPage.h"
#include "search/SearchWiring.h"

#include "capture/CaptureWiring.h"
#include "controls/CardIcons.h"
#include "controls/FirstEvent.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "exchange/TransferMenu.h"
#include "groups/BaseDlg.h"
#include "groups/UntTree.h"
#include "history/AutoBackup.h"
#include "history/AutoBackupTimer.h"
#include "history/NoteHistoryWiring.h"
#include "history/Trash.h"
#include "history/TrashWiring.h"
#include "links/LinkWiring.h"
#include "skins/SkinLook.h"
#include "sync/SyncWiring.h"
#include "ui_Main.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QTimer>
#include <functional>
#include <memory>
#include <utility>

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
    m_notepadPage = std::make_unique<TNotepadPage>(TNotepadWidgets{ui->tvNote, ui->mmoNote, ui->edtQuery, ui->btn2,
                                                                   ui->NAddNoteType, ui->NModNoteType, ui->NDelNoteType,
                                                                   ui->NMoveNoteType, pmNoteType},
                                                   NoteTree, m_stores->Note);
    m_noteHistory = new TNoteHistoryWiring(*m_notepadPage, ui->mmoNote, pmNoteType);
    m_bookmarkPage = std::make_unique<TBookmarkPage>(
        TBookmarkWidgets{this, ui->ts1, pmIEType, pmIE, ui->N1, ui->N5, ui->N2, ui->N3, ui->N8, ui->NAddIEType,
                         ui->NModIeType, ui->NDelIEType, ui->NMoveIEType, ui->NMoveIE},
        IETree, m_stores->IE);
    m_reminderPage = std::make_unique<TReminderPage>(
        TReminderWidgets{ui->tsAlam, pmAlam, ui->NAddAlam, ui->NModAlam, ui->NDelAlam}, m_stores->Alam);
    m_search = std::make_unique<TSearchWiring>(this, TSearchTargets{ui->pgcMain, ui->tsNote, ui->ts1, ui->tsAlam,
                                                                    *m_notepadPage, *m_bookmarkPage, *m_reminderPage,
                                                                    NoteTree, IETree});
    new TLinkWiring(TLinkParts{this, *m_bookmarkPage, m_stores->IE, IETree, pmIEType, pmIE,
                               [this] { return m_windowMemory->ColumnWidths(); }});
    const TTrashParts trash{ui->pgcMain, ui->tsNote,      ui->ts1,
                            ui->tsAlam,  *m_bookmarkPage, *m_reminderPage,
                            NoteTree,    IETree,          {pmNoteType, pmIEType, pmIE, pmAlam}};
    m_trash = new TTrashWiring(this, trash);
    // The tray's icon is there before the parts that speak through it.
    m_tray = std::make_unique<TTrayIcon>(this, pmTray, ui->NShowForm);
    m_sync = new TSyncWiring(
        TSyncParts{this, tmr1, m_tray->Icon(), *m_notepadPage, *m_bookmarkPage, *m_reminderPage, NoteTree, IETree});
    auto* capture = new TCaptureWiring(
        TCaptureParts{this, m_tray->Icon(), m_search->Field(), *m_notepadPage, *m_bookmarkPage, *m_reminderPage});
    TRunningCommands commands = m_sync->Commands();
    commands.insert(capture->Commands());
    commands.insert(SkinRunningCommands());
    m_runningCommands = std::make_unique<TRegisteredCommands>(commands);
    m_windowMemory = std::make_unique<TWindowMemory>(TWindowMemoryParts{
        this, ui->pgcMain, ui->tvNote, m_stores->Config, NoteTree, IETree, *m_bookmarkPage, *m_reminderPage});
    ConnectHandler(tmr1, &QTimer::timeout, this, &TFormMain::tmr1Timer);
    WireShell();
    FormCreate();
    m_windowMemory->RestoreFrame();
}

TFormMain::~TFormMain() = default;

std::unique_ptr<QWidget> MainWindowForm()
{
    auto form = std::make_unique<QWidget>();
    // The form's objects are children of the widget; the Ui object only names them.
    Ui::TFormMain().setupUi(form.get());
    return form;
}

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
    m_windowMemory->RestorePlaces();
    // Said once; from now on the memo takes no typing and every command that
    // changes data refuses before it asks anything.
    if (DbAccess->ReadOnly()) {
        emit WaitingForUser();
        ShowInfo("数据文件只读，所做修改不会保存。");
    }
}

void TFormMain::WatchIntegrity()
{
    // The file is as this program left it at a clean exit, checked: the tick
    // goes on, and the full check comes with the day's backup.
    if (DbAccess->CheckDeferred()) {
        AfterFirstPaint([this] { StartAutoBackups(); });
        return;
    }
    // The reminders' tick, which writes, waits for the verdict. The check
    // would share the cores with the first paint.
    tmr1->stop();
    AfterFirstPaint([this] { BeginIntegrityCheck(); });
}

void TFormMain::AfterFirstPaint(std::function<void()> step)
{
    ::AfterFirstPaint(this, std::move(step));
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
                if (VerifyDatabase()) {
                    window->tmr1->start();
                    window->StartAutoBackups();
                } else
                    window->Terminate(1);
            },
            Qt::QueuedConnection);
    });
}

void TFormMain::StartAutoBackups()
{
    m_autoBackups = std::make_unique<TAutoBackupTimer>(DbAccess->DatabasePath(), [] { return AutoBackupFolder(); });
    // Damage the backup's check finds in the data file is reported as the
    // start's check reports it; the program goes on (a restore can mend it),
    // but no write reaches the file.
    connect(m_autoBackups.get(), &TAutoBackupTimer::LiveFileDamaged, this, [](const QString& damage) {
        DbAccess->TakeDamage(damage);
        VerifyDatabase();
    });
    m_autoBackups->Start();
    RunHandler([this] { m_noteHistory->ThinOld(); });
    RunHandler([] { TTrash().Expire(TClock::Now()); });
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
