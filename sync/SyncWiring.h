#pragma once

#include "data/CommandLineRun.h"
#include "sync/Sync.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QFileSystemWatcher;
class QSystemTrayIcon;
class QTimer;
class QWidget;
class TBookmarkPage;
class TCardTree;
class TNotepadPage;
class TReminderPage;

// What the sync rounds work with. The trees are held through their owner's
// pointers: a restore of the data makes them again.
struct TSyncParts
{
    QWidget* Window;
    // The reminders' tick: stopped while writes wait (for the data file's
    // check at the start), and the rounds wait with it.
    QTimer* Tick;
    QSystemTrayIcon* Tray; // its tip and messages say how sync goes; may be null
    TNotepadPage& NotepadPage;
    TBookmarkPage& BookmarkPage;
    TReminderPage& ReminderPage;
    const std::unique_ptr<TCardTree>& NoteTree;
    const std::unique_ptr<TCardTree>& IETree;
};

// Runs the sync rounds of the main window while sync is on: once the window
// has first painted, when the folder changes (after a second of quiet),
// every minute, and two seconds after a change here. Before a round the
// memo's unsaved typing is written; after one that applied something the
// pages show it in place, and an alert of a reminder now seen or gone
// elsewhere closes. Rounds run one at a time on the window's thread. A
// failing round is logged and said in the status and the tray's tip, and in
// a box beside the window once until a round succeeds again.
class TSyncWiring : public QObject
{
public:
    explicit TSyncWiring(const TSyncParts& parts);
    ~TSyncWiring() override;

    // One round now, its result shown on the pages; raises its failure.
    TSyncReport RunRound();
    // Sync was switched on or off or moved to another folder: the watcher,
    // the timers and the tray's tip follow.
    void SettingsChanged();
    // `--sync-now` of a later start: a round, its report the answer.
    TRunningCommands Commands();
    // The last round's failure (empty: it succeeded, or none ran yet).
    QString Failure() const { return m_failure; }

    // After a round that applied something: the pages read again in place.
    void ShowApplied();

    // Asks for the folder's new passphrase when another computer changed it
    // (empty: not given); a password box unless a test puts another here.
    std::function<QString()> AskPassphrase;

private:
    void RoundQuietly();
    bool TakeNewPassphrase();
    bool CanWrite() const;
    bool Editing() const;
    void BetweenSteps();
    void FolderChanged();
    void PollLocalChanges();
    void CloseAnsweredAlerts();
    void UpdateTrayTip();
    void TellOnce(const TSyncReport& report);

    TSyncParts m_parts;
    QFileSystemWatcher* m_watcher;
    QTimer* m_folderQuiet;  // a second after the folder's last change
    QDateTime m_folderTime; // the folder's time of change when last looked at
    QTimer* m_localDelay;   // two seconds after a change here
    QTimer* m_poll;         // asks for changes here every second
    QTimer* m_periodic;     // every minute
    bool m_on = false;
    bool m_inRound = false;
    bool m_roundDue = false; // waits for the data file's check, a dialog or an edit in place
    QString m_failure;
    bool m_failureReported = false; // this episode of failures had its box
    bool m_passphraseAsked = false; // this episode of a changed passphrase was asked about
};
