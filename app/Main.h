#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TFormMain;
}
class QMenu;
class QTimer;
class QTreeWidgetItem;
class TCardTree;

// The main window: three pages (notepad, timed reminders, web addresses), a
// bottom strip with the start-with-the-desktop check box and the settings
// button, the pop-up menus and the one-second timer. The page handlers live
// in the folders of their subsystems.
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

    std::unique_ptr<TCardTree> IETree;
    std::unique_ptr<TCardTree> NoteTree;
    QTimer* tmr1 = nullptr;
    QMenu* pmNoteType = nullptr;
    QMenu* pmIEType = nullptr;
    QMenu* pmIE = nullptr;
    QMenu* pmAlam = nullptr;
    QMenu* pmSystem = nullptr;
    QMenu* pmTray = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void BuildMenus();
    void FormShow();
    void Terminate(int exitCode);
    void btnSystemClick();
    void NHomePageClick();

    // Notepad page and the note tree's group menu (notes/NotepadPage.cpp)
    void WireNotepadPage();
    void ShowStartupNote();
    void tvNoteClick();
    void mmoNoteChange();
    bool mmoNoteKeyDown(QKeyEvent* key);
    void btn2Click();
    void NAddNoteTypeClick();
    void NModNoteTypeClick();
    void NDelNoteTypeClick();
    void tvNoteEdited(QTreeWidgetItem* node, const QString& text);
    void ShowNote(int typeId);
    void SetMemoText(const QString& stored);
    void UnbindMemo();
    void SelectMemoGroup();
    void SaveMemo(bool quietRetry);
    void WriteMemo();
    // Writes text that an earlier save could not write; throws when that
    // fails again. Runs before the memo lets go of its text.
    void SaveUnsavedNote();
    // The last try before the program ends; false keeps it running.
    bool SaveNoteBeforeExit();
    // The group whose note the memo shows (-1: none yet, the memo is read-only).
    int m_noteGroup = -1;
    // The memo holds text that the last save could not write.
    bool m_noteUnsaved = false;
    // The failure of the memo's save last reported (empty once a save succeeds).
    QString m_noteFailure;
    // Set while the program itself changes the memo or the tree's current node.
    bool m_noteLoading = false;

    // Bookmark page and the bookmark tree's group menu (bookmarks/BookmarkPage.cpp)
    void WireBookmarkPage();
    void ShowStartupBookmarks();
    void tvIEClick();
    void N1Click();
    void N5Click();
    void N2Click();
    void N3Click();
    void N8Click();
    void DBGrid1DblClick();
    void NAddIETypeClick();
    void NModIeTypeClick();
    void NDelIETypeClick();
    void tvIEEdited(QTreeWidgetItem* node, const QString& text);
    void NewBookmark();
    void OpenCurrentBookmark();
    void RefreshBookmarks();
    void ReloadIETree();
    void ReloadIETreeIfGroupsAdded(int addedBefore);

    // Reminder page, the tick and the alerts (reminders/ReminderPage.cpp)
    void WireReminderPage();
    void ShowStartupReminders();
    void ShowAlamList(int filter);
    void rbToDayClick();
    void rbTomorrowClick();
    void rbMissClick();
    void rb1Click();
    void rb2Click();
    void rbAllClick();
    void NAddAlamClick();
    void NModAlamClick();
    void NDelAlamClick();
    void WMAlamDelete(int id);
    void WMAlamSeen(int id);
    void lv1CustomDrawItem(QTreeWidgetItem* item);
    void FireDueReminders();
    void FireRemindersOf(qint64 second);
    qint64 m_lastAlamSecond = -1; // the last second (since the epoch) the tick has covered
    bool m_tickRunning = false;
    // The failure of the tick last reported (empty once a tick succeeds).
    QString m_tickFailure;

public:
    // The one-second tick: fires the reminders due since the previous tick.
    void tmr1Timer();

private:

    // Tray icon, closing, login, settings, start with the desktop, backup and restore (app/Shell.cpp)
    void WireShell();
    void LoadConfigAndLogin();
    void ShowAutoRunState();
    bool IsAutoRun() const;
    void chk1Click();
    void ShowProgram();
    void AppMinimize();
    void NShowFormClick();
    void NCloseClick();
    bool FormCloseQuery();
    void FormClose();
    void NSetupClick();
    void NBackupClick();
    void NRestoreClick();
    void ReloadPages();
    void RecreateTrees();
    class QSystemTrayIcon* TrayIcon = nullptr;

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::TFormMain> ui;

    bool m_shown = false;
    bool m_closed = false; // the exit was confirmed
    bool m_terminate = false;
    int m_exitCode = 0;
};

// The program's home page: a page shipped beside the program.
QString HomePagePath();
