#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class TFormMain;
}
class QMenu;
class QTimer;
class TAutoBackupTimer;
class TBookmarkPage;
class TNoteHistoryWiring;
class TTrashWiring;
class TCardTree;
class TGroupPrefetch;
class TNotepadPage;
class TRegisteredCommands;
class TReminderPage;
class TSearchWiring;
class TSyncWiring;
class TTransferMenu;
class TTrayIcon;
class TWindowMemory;
struct TStores;

// The main window's form alone, its controls as they stand before any data:
// what a skin is tried on where the window itself is not made (`--skin`).
std::unique_ptr<QWidget> MainWindowForm();

// The main window: three pages (notepad, timed reminders, web addresses), a
// bottom strip with the start-with-the-desktop check box and the settings
// button, the pop-up menus and the one-second timer. Each page is an object
// of its subsystem's folder, made over its controls; the window owns the
// stores and hands each page the one it works on.
class TFormMain : public QWidget
{
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Set when the first show asked the program to end (the login was
    // cancelled, or loading failed); the program entry then stops.
    bool TerminateRequested() const { return m_terminate; }
    int ExitCode() const { return m_exitCode; }
    // Begins the check of the data file's pages beside the event loop (it
    // can take longer than the whole start on a large file); the reminders'
    // tick waits for the verdict, and a damaged file is reported and ends
    // the program with status 1. A file left as it was at the last clean
    // exit is not read now: the day's automatic backup checks it.
    void WatchIntegrity();
    // Runs a step once the window has painted (see controls/FirstEvent.h).
    void AfterFirstPaint(std::function<void()> step);
    // The one-second tick: fires the reminders due since the previous tick,
    // and writes the memo's text that could not be saved once the file is free.
    void tmr1Timer();
    // The stores the pages and dialogs of this window work on.
    TStores& Stores() { return *m_stores; }
    // Ends the program as 关闭 does, without asking: for the end of the
    // desktop session and the signals that end a program (kill, a closed
    // terminal, Ctrl+C). The memo's typing still waiting for its pause is
    // saved (a save that fails is logged), the window's state kept, and the
    // event loop ends with status 0, so the clean exit is recorded.
    void EndAsClosed();
    // What the session manager asks for before the desktop session ends:
    // the memo's typing and the window's state written, nothing asked, the
    // program still running (the session may yet go on).
    void SaveForTheSessionEnd();
    // One more question 数据恢复 asks, after its own about the chosen file
    // (the path) and before anything changes: false leaves the data as they are.
    void AddRestoreQuestion(std::function<bool(const QString& source)> ask);

    std::unique_ptr<TCardTree> IETree;
    std::unique_ptr<TCardTree> NoteTree;
    QTimer* tmr1 = nullptr;
    QMenu* pmNoteType = nullptr;
    QMenu* pmIEType = nullptr;
    QMenu* pmIE = nullptr;
    QMenu* pmAlam = nullptr;
    QMenu* pmSystem = nullptr;
    QMenu* pmTray = nullptr;

signals:
    // The first show is about to wait for the user (the login password, a
    // message) before the window stands: from now on a later start must be
    // answered, by bringing that dialog to the front.
    void WaitingForUser();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BeginIntegrityCheck();
    bool m_integrityCheckBegun = false;
    void FormCreate();
    void BuildMenus();
    void FormShow();
    void Terminate(int exitCode);
    void btnSystemClick();
    void NHomePageClick();

    // The stores, and the pages, each over its controls of the window
    // (notes/, bookmarks/, reminders/).
    std::unique_ptr<TStores> m_stores;
    std::unique_ptr<TGroupPrefetch> m_groupPrefetch;
    std::unique_ptr<TNotepadPage> m_notepadPage;
    std::unique_ptr<TBookmarkPage> m_bookmarkPage;
    std::unique_ptr<TReminderPage> m_reminderPage;
    // The window's parts over the pages: the search across them, the
    // window's memory (app/WindowMemory.h), the tray icon (app/Tray.h) and
    // the import and export commands (exchange/).
    std::unique_ptr<TSearchWiring> m_search;
    std::unique_ptr<TWindowMemory> m_windowMemory;
    std::unique_ptr<TTrayIcon> m_tray;
    std::unique_ptr<TTransferMenu> m_transferMenu;
    // The running commands of the window's parts, registered while it
    // stands: a member, so they go before the parts (its children) do.
    std::unique_ptr<TRegisteredCommands> m_runningCommands;
    // The daily backup, begun once the data file's check found it sound.
    std::unique_ptr<TAutoBackupTimer> m_autoBackups;
    TNoteHistoryWiring* m_noteHistory = nullptr; // a child of the memo
    TTrashWiring* m_trash = nullptr;             // a child of the window
    TSyncWiring* m_sync = nullptr;               // a child of the window
    void StartAutoBackups();
    bool m_tickRunning = false;

    // Closing, login, settings, start with the desktop, backup and restore (app/Shell.cpp)
    void WireShell();
    void LoadConfigAndLogin();
    void ShowAutoRunState();
    bool IsAutoRun() const;
    void chk1Click();
    void NCloseClick();
    bool FormCloseQuery();
    void FormClose();
    // Ends the run once what is to be kept is kept.
    void EndRun();
    void NSetupClick();
    void NBackupClick();
    void NRestoreClick();
    // Saves the memo and puts the file in place of the data; the data before
    // go to the safety copy.
    void RestoreData(const QString& source);
    // Whether the last restore's data replace the other computers' data too.
    bool m_replaceOthers = false;
    void ReloadPages();
    std::vector<std::function<bool(const QString&)>> m_restoreQuestions;
    void RecreateTrees();

    std::unique_ptr<Ui::TFormMain> ui;

    bool m_shown = false;
    bool m_closed = false; // the exit was confirmed
    bool m_terminate = false;
    int m_exitCode = 0;
};

// The program's home page: a page shipped beside the program.
QString HomePagePath();
