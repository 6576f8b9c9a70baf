#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

// What one round of sync did.
struct TSyncReport
{
    int Sent = 0;          // this computer's changed items written to the folder
    int Applied = 0;       // other computers' items applied here
    int Computers = 0;     // the other computers whose files were read
    QStringList Conflicts; // notes that now show a conflict, by name
    QStringList Notices; // deletes that lost to an edit: "“工作”在另一台电脑上被删除，但本机有新的修改，已保留"
    QStringList Skipped; // "文件名：原因" of files left out
    QStringList Waiting; // the files this computer still waits for, with their computer
    QStringList Refused; // what another computer asked to delete and was not let
};

// This computer's sync settings and state, kept in the data file but never
// synced themselves.
struct TSyncStatus
{
    QString Folder; // empty: sync is off
    QString Name;   // this computer's name for the others
    bool Encrypted = false;
    QDateTime LastRound; // invalid: none yet
    int Computers = 0;
    QStringList Skipped;
    QStringList Waiting;
};

// Sync through a shared folder: each computer writes its own changes as
// small files, applies everyone else's, and all end with the same data.
//
// Each computer keeps two files of its own in the folder: its whole state
// ("…-<n>.state.jsync"), and everything it changed since that state in one
// file (a later one replaces it), so a computer that has missed files, joins
// late or finds the folder emptied needs no more than those two, and a late
// or missing file delays only what it carries. A round survives a kill at
// any point: what it merged and what that made (a group kept against a
// delete) is stored, with what is to go out, in the transaction that
// applies it; the files are written from that afterwards.
class TSync
{
public:
    // Joins the folder with the passphrase (empty: the files are plain).
    // Raises with the user's message when the passphrase does not open it;
    // nothing is changed then. A join of the folder already joined, with the
    // passphrase it now has (another computer changed it), keeps everything
    // and sends this computer's files anew with the new key.
    static void Setup(const QString& folder, const QString& passphrase);
    static void Stop();
    static TSyncStatus Status();
    // This computer's name for the others (empty: the host's name).
    static void SetName(const QString& name);
    // A new passphrase for the folder (empty: plain files): its header and
    // this computer's files are written anew with it; the other computers
    // ask for it once, at their next round.
    static void ChangePassphrase(const QString& passphrase);
    // One round: writes this computer's changes, applies the others'.
    // Raises when sync is off or the folder cannot be read.
    static TSyncReport Round();
    // Someone to call between the steps of a long round (the window lets
    // the user go on working there); without one a round runs in one go.
    // A step merges and writes as many items as take about stepMs (a
    // keystroke waits no longer than a step); the groups of a file go in
    // one step per tree. The call may raise EAbort to
    // end the round there: what was merged stays, the rest comes next time.
    static void SetBetweenSteps(std::function<void()> wait, qint64 stepMs = 15);
    // Someone to ask before another computer's file deletes or empties more
    // than a few dozen items or most of a tree (the question names that
    // computer); without one, or when the answer is no, the file waits and
    // the report says why. A file declined is not asked about again until
    // ForgetDeclined().
    static void SetAskBeforeLoss(std::function<bool(const QString& question)> ask);
    static void ForgetDeclined();
    // For tests: called at every point of a round where a kill could come,
    // inside each transaction just before it commits and after each file
    // written or removed; raising there stands for the kill.
    static void SetKillPoints(std::function<void()> hit);
    static bool InRound();
    // Raises "busy" while a round runs: a restore or a change of the sync
    // settings waits for it.
    static void RefuseInRound();
    // Whether this computer changed anything since its last round (a cheap
    // read, for a timer to ask often).
    static bool HasLocalChanges();
    // The IDs (Alam.ID, as the reminder list shows them) of the reminders
    // that the last round changed or removed, for an alert open for one of
    // them to close when it is now seen or gone.
    static QStringList ChangedReminders();
    // After a restore of the data, with sync on (the file at `before` holds
    // the data as it was just before): what this computer knew and its
    // settings come back from there, so that it goes on as the same computer.
    // replaceOthers: the restored data goes out as new edits and replaces the
    // other computers' data too (what the backup does not hold is deleted
    // there, through their trash); otherwise sync stops here, and the
    // restored data stays on this computer alone.
    static void AfterRestore(const QString& before, bool replaceOthers);
    // What the user is told once of a round: conflicts marked, deletes that
    // lost to an edit, deletes that wait for a yes.
    static QStringList NoticeLines(const TSyncReport& report);
    // The report as the status line and the command line say it.
    static QString ReportText(const TSyncReport& report);
};
