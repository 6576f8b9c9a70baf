#pragma once

#include "data/OwnFiles.h"
#include "data/UException.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

struct sqlite3;

// One automatic backup: a file of the backup folder named after its day.
struct TAutoBackupFile
{
    QString Path;
    QDate Day;
    qint64 Size = 0;
};

// What a backup holds, so a restore can be chosen by more than its date.
struct TBackupContents
{
    int Groups = 0;
    int Notes = 0;
    int Bookmarks = 0;
    int Reminders = 0;
    // "3 个分组，12 篇记事，40 个网址，5 个提醒"
    QString Text() const;
};

// The automatic backups of the data file: at most one a day, each a
// consistent copy checked after writing, readable by the owner alone, in a
// folder of their own; thinned to the last 7 days, 4 weeks and 12 months.
// Only files named as the backups are ever listed or removed there.
class TAutoBackups
{
public:
    explicit TAutoBackups(QString folder);

    // The backups, the newest first.
    QList<TAutoBackupFile> List() const;
    // No backup of today yet: the newest is of an earlier day (or none).
    bool Due(const QDate& today) const;
    // Writes today's backup from the open connection and returns its path.
    // A copy that fails its check is removed, and the failure raised.
    QString Write(sqlite3* db, const QDate& today) const;
    // Removes the backups that no keeping rule holds on to; returns them.
    QStringList Prune() const;

private:
    // What a backup killed before its end left: parts and their journals.
    void RemoveKilledCopies() const;

    QString m_folder;
};

// A backup failed because the data file itself is damaged; the message is
// the check's report of the data file.
class ELiveFileDamaged : public EError
{
public:
    using EError::EError;
};

// The day's backup of the data file at that path when it is due, read
// through a connection of its own (so it can run beside the program's
// work), then the thinning. Returns the new backup's path, empty when none
// was due; raises what went wrong, ELiveFileDamaged when a copy failed
// because the data file is damaged.
QString RunAutoBackup(const QString& databasePath, const QString& folder, const QDate& today);

// Keeps the folder the user chose for the backups (read by
// AutoBackupFolder); saving the default or an empty text goes back to it.
void SaveAutoBackupFolder(const QString& folder);

// Counts what a backup file holds; throws when it cannot be read.
TBackupContents ReadBackupContents(const QString& path);

// Of the days given (one backup each), those the rules keep: the newest 7,
// and the newest of each of the newest 4 weeks and 12 months.
QList<QDate> KeptBackupDays(QList<QDate> days);
