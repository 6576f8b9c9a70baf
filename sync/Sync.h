#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

// What one round of sync did.
struct TSyncReport
{
    int Sent = 0;      // this computer's changed items written to the folder
    int Applied = 0;   // other computers' items applied here
    int Computers = 0; // the other computers whose files were read
    QStringList Conflicts; // the conflict copies made, by name
    QStringList Skipped;   // "文件名：原因" of files left out
};

// This computer's sync settings and state, kept in the data file but never
// synced themselves.
struct TSyncStatus
{
    QString Folder;          // empty: sync is off
    bool Encrypted = false;
    QDateTime LastRound;     // invalid: none yet
    int Computers = 0;
    QStringList Skipped;
};

// Sync through a shared folder: each computer writes its own changes as
// small files, applies everyone else's, and all end with the same data.
class TSync
{
public:
    // Joins the folder with the passphrase (empty: the files are plain).
    // Raises with the user's message when the passphrase does not open it;
    // nothing is changed then.
    static void Setup(const QString& folder, const QString& passphrase);
    static void Stop();
    static TSyncStatus Status();
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
    // The report as the status line and the command line say it.
    static QString ReportText(const TSyncReport& report);
};
