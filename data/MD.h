#pragma once

#include "data/DataSet.h"
#include "data/GridSource.h"
#include "data/SqliteDb.h"
#include "data/UntPublic.h"

#include <QString>
#include <functional>
#include <future>
#include <memory>
#include <vector>

// The one gateway to the database: it owns the connection and the datasets,
// each with one role, and turns every failure into EDBException.
class TDbAccess
{
public:
    TDbAccess();
    ~TDbAccess();

    // Opens AppPath + "bookkeep.dat" (created when missing). On failure throws
    // EDBException "数据库连接失败！" with the reason and leaves the
    // connection closed.
    // Removes what an interrupted restore left beside the database, and
    // finds out whether the data can be written.
    void Connect();
    bool Connected() const { return bool(Connection); }

    // Checks the database's pages once (SQLite's quick check, on a second,
    // read-only connection): too slow for the start on a large file (seconds
    // when the file is not in the system's cache), so the program entry
    // begins it in a thread of its own once the window stands, and learns
    // the verdict here; a write waits for it, or runs the check itself when
    // none was begun. A damaged file closes the connection and throws
    // EDBException "数据库连接失败！" with the reason; no write reaches it.
    void VerifyIntact();
    // `ended` runs in the checking thread when the check has ended (at once
    // where the verdict is known already).
    void BeginIntegrityCheck(std::function<void()> ended);
    // The file was found exactly as this program left it, checked, at its
    // last clean exit (see CleanExit.h): the connection took the verdict
    // "sound" without reading the pages, and the full check comes with the
    // day's automatic backup.
    bool CheckDeferred() const { return m_checkDeferred; }
    // Damage found in the data file while the program runs (by the daily
    // backup's check): from now on no write reaches the file, and
    // VerifyIntact reports it as a damaged file at the start is reported.
    void TakeDamage(const QString& damage);
    // At the program's normal end, after its last write: closes the
    // connection and records the file's signs when its verdict was "sound",
    // so that the next start may trust them.
    void RecordCleanExit();

    // The data cannot be written (a read-only file, folder or mount), as
    // found when connecting. Every command that changes data asks
    // CheckWritable before it asks the user anything.
    bool ReadOnly() const { return m_readOnly; }
    void CheckWritable() const;
    // Whether a path may be written; tests replace it, since they run as
    // root, whom file modes do not stop.
    static inline std::function<bool(const QString& path)> PathWritable;

    // The grid's model, bound to GridSet, which is closed.
    TGridSource* GetGridSource();
    // Opens the statement in GridSet, which the grid's model shows; a grid
    // shows it once bound to GridSource (TCardDBGrid::OpenGridSet).
    void OpenGrid(const QString& sql);
    // A dataset of its own for one reading: the statement's result, open.
    // Nothing else refills it, so readings may nest (a loop over groups that
    // loads each group's note).
    std::unique_ptr<TDataSet> Query(const QString& sql);
    void OpenQuery(const QString& sql);
    void OpenQuery2(const QString& sql);
    void RefreshGrid();
    int GetIntValue(const QString& sql);
    // Runs the "@#@"-separated statements in one transaction.
    void ExecSQL(const QString& text);
    // Runs a batch of writes (ExecSQL, posts, prepared statements) in one
    // transaction: all of them stay, or, when the batch throws, none.
    void Batch(const std::function<void()>& writes);
    // Copies the database to the target, readable by its owner alone; a
    // damaged database is refused. The program's own copy (ownCopy) is
    // written under a name that the next start clears away when unfinished.
    void BackupTo(const QString& target, bool ownCopy = false);
    // Puts a checked copy of the source beside the database (read through
    // SQLite, so a source in WAL mode gives all its data), then writes it into
    // the database file in one transaction: either the old or the new data
    // are there, in the same file (links to it, permissions and locks stay).
    // A restore in two steps stages first and replaces later; DiscardStaged
    // drops a staged copy that is not wanted.
    void RestoreFrom(const QString& source);
    void StageRestore(const QString& source);
    void RestoreStaged();
    void DiscardStaged();
    // The staged copy: the database's name with PartSuffix.
    QString StagingPath() const;
    void DiscardOldVersionCopies();

    // Posts the pending append or edit of a dataset; a failure becomes the
    // same EDBException as a failed ExecSQL, with the dataset's statement.
    void Post(TDataSet& set);

    // How long a statement waits for another program that holds the file
    // (a backup job, a database browser) before it fails, in milliseconds.
    static inline int BusyTimeoutMs = 2000;
    // Whether statements wait that long; off for quiet retries while a lock
    // is known to persist (see TNoLockWait).
    void SetLockWait(bool wait);

    // The open connection; a closed one is opened again first.
    sqlite3* Handle();
    void CloseConnection();
    QString DatabasePath() const;

    TDbHandle Connection;
    std::unique_ptr<TGridSource> GridSource;
    std::unique_ptr<TDataSet> GridSet;
    std::unique_ptr<TDataSet> IntSet;
    // Slots that OpenQuery and OpenQuery2 refill: for the pages' own
    // readings; a store reads through a dataset of its own (Query).
    std::unique_ptr<TDataSet> QuerySet;
    std::unique_ptr<TDataSet> QuerySet2;

    // Reads every statement still being read to its end, so that a write on
    // the connection never lands in the middle of one, and waits for a
    // reading on a connection of its own (another thread) to end, so that
    // the two never meet on the file's lock.
    void FinishReading();
    std::function<void()> AwaitOutsideReading;

private:
    // A dataset on this connection, read to its end before any write.
    std::unique_ptr<TDataSet> NewDataSet();
    void Open(TDataSet& set, const QString& sql);
    // Refuses a write to data that are read-only or damaged.
    void CheckWrite(const QString& sql);
    // The check's verdict, from the thread begun or run now.
    void TakeIntegrityVerdict();

    bool m_readOnly = false;
    bool m_checked = false;
    bool m_checkDeferred = false;
    QString m_damage; // what the check found wrong
    std::future<QString> m_checking;
    std::vector<TDataSet*> m_sets; // every dataset alive on the connection

    TDbHandle OpenFile();
    bool m_lockWait = true;
};

// Within its scope statements meet a lock held by another program with an
// immediate failure instead of a wait.
class TNoLockWait
{
public:
    TNoLockWait();
    ~TNoLockWait();
    TNoLockWait(const TNoLockWait&) = delete;
    TNoLockWait& operator=(const TNoLockWait&) = delete;
};

// One failure reported per episode: while the file stays held by another
// program, retries fail the same way; they neither wait for the lock nor
// report again. Run throws a new failure and returns false for a quiet one.
// The episodes of the program know of each other: while one of them fails
// with a failure already reported (the reminders' tick and the note's save
// meeting the same held file), another keeps quiet about it too, so one
// held file costs one box.
class TLockEpisode
{
public:
    TLockEpisode() = default;
    ~TLockEpisode() { Clear(); }
    TLockEpisode(const TLockEpisode&) = delete;
    TLockEpisode& operator=(const TLockEpisode&) = delete;

    bool Run(bool quietRetry, const std::function<void()>& operation);
    bool Failing() const { return !m_failure.isEmpty(); }
    void Clear();

private:
    void Fail(const QString& message);

    QString m_failure; // the message of this episode's last failure
};

extern TDbAccess* DbAccess;

// The sentence for the user when a statement that reads fails.
inline const QString kQueryErrorText = QStringLiteral("数据库查询错误，请检查！");
// The sentence for the user when a restore fails, at whatever step.
inline const QString kRestoreErrorText = QStringLiteral("数据库恢复失败！");

void DbExecSQL(const QString& text);
int DbGetIntValue(const QString& sql);
void DbBackup(const QString& target, bool ownCopy = false);
void DbRestore(const QString& source);

// Splits a statement text on "@#@", but never inside a quoted literal, so a
// value holding the separator is stored as typed.
QStringList SplitStatements(const QString& text);
