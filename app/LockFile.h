#pragma once

#include <QLockFile>
#include <QString>
#include <optional>

// A lock file whose lock the system holds for the process while it keeps the
// file open (flock): it ends with the process however that ends, so a crash
// leaves no lock behind, and taking it syncs nothing to the disk (QLockFile
// syncs its file, up to two milliseconds of every start on a busy disk). The
// file says who holds it in the lines QLockFile writes and reads, and
// QLockFile takes the same system lock on it, so a program that locks the
// file with QLockFile and this one keep each other out. Where the system
// lock is not to be had (another system, or a file system without it) the
// lock is a QLockFile.
class TLockFile
{
public:
    enum class TResult {
        Taken,
        Held,  // a live process holds it
        Failed // no lock file can be made here (a read-only medium)
    };

    // A QLockFile of a dead process is recognised by its process id at once;
    // the age rule only matters when that check cannot be made (a lock taken
    // on another computer sharing the directory).
    static constexpr int FallbackStaleLockTimeMs = 10 * 60 * 1000;

    // note: a line the file carries after the holder's, for a later start
    // to read (HolderNote).
    explicit TLockFile(QString path, QString note = QString());
    ~TLockFile();
    TLockFile(const TLockFile&) = delete;
    TLockFile& operator=(const TLockFile&) = delete;

    TResult TryLock();
    // Gives the lock up and removes the file (only a lock taken a moment
    // ago, found not to be needed).
    void Unlock();
    bool IsLocked() const;
    // The holder as its file says: process id and host; false when unknown.
    bool HolderInfo(qint64* pid, QString* host) const;
    // The note its holder wrote; empty when none.
    QString HolderNote() const;

private:
    TResult TrySystemLock();
    TResult TryFallback();
    void WriteHolder() const;

    QString m_path;
    QString m_note;
    int m_fd = -1;
    std::optional<QLockFile> m_fallback;
};

// A system lock (flock) on a directory or a file, held for the process while
// it keeps its handle open and released by the system however the process
// ends. Taken on the directory or file opened to read, so nothing is created
// or written, and independent of the locks SQLite takes on the files (they
// are of another kind).
// A directory keeps its identity whatever becomes of the files in it: a lock
// file deleted or renamed, another database file put in its place. A file
// is the same file through every path to it (a symbolic link, another
// folder's link, a bind mount), so a lock on the data file itself keeps out
// a copy that reaches it through another folder. Such a handle stays open
// for the run: closing a handle on the database would drop the locks SQLite
// holds on it.
class TSystemLock
{
public:
    enum class TKind { Directory, File };
    TSystemLock(QString path, TKind kind);
    ~TSystemLock();
    TSystemLock(const TSystemLock&) = delete;
    TSystemLock& operator=(const TSystemLock&) = delete;

    // Failed where there is nothing to lock (the data file is not made yet)
    // or the system has no such lock for it (another system, a network file
    // system).
    TLockFile::TResult TryLock();
    void Unlock();
    bool IsLocked() const { return m_fd >= 0; }

private:
    QString m_path;
    TKind m_kind;
    int m_fd = -1;
};
