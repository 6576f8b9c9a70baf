#pragma once

#include <QDate>
#include <QFile>
#include <QString>

// The files the program keeps in its data folder: the database, SQLite's
// journal files beside it, its copies from before upgrades ("bookkeep.dat.v3"),
// the staged copy of a restore, the restore's safety copy ("tmpData.bat"), the
// record of the last clean exit ("bookkeep.dat.verified") and the single
// instance's lock; and the automatic backups in their folder. Whatever the
// user chooses to export or back up to, none of them is ever written over:
// the database, or the way back to it, would be gone.

// Their names in the data folder, here once so that the check below cannot
// miss a file the program keeps.
inline const QString kDatabaseFileName = QStringLiteral("bookkeep.dat");
inline const QString kLockFileName = QStringLiteral("bookkeep.lock");
inline const QString kSafetyCopyFileName = QStringLiteral("tmpData.bat");
// The database's name with this suffix: the signs of the file at the last clean exit.
inline const QString kCleanExitSuffix = QStringLiteral(".verified");

// The automatic backups: "bookkeep-2026-03-01.bat" in their folder, which is
// "backups" beside the data file unless the user chose another
// (SysSet.BackupDir, read while the database is connected).
QString AutoBackupFileName(const QDate& day);
// The day a backup's file name stands for; invalid for any other name.
QDate AutoBackupDay(const QString& name);
QString DefaultAutoBackupFolder();
QString AutoBackupFolder();

// Whether writing to the path, after following its symbolic links, would
// write one of them (or, where the database is itself a link, the file it
// points to or SQLite's files beside that one). Folders are told by their
// device and inode, not by their path's text, so a folder reached by another
// path (a bind mount, a linked folder, "..") is the same folder; a name that
// is the database file itself (a hard link) is refused as well.
bool IsOwnFile(const QString& path);

// Throws the user's message naming the path when it is one of them.
void RefuseOwnFile(const QString& path);

// A file descriptor closed with its owner.
struct TOpenFd
{
    int Fd = -1;
    TOpenFd() = default;
    TOpenFd(const TOpenFd&) = delete;
    TOpenFd& operator=(const TOpenFd&) = delete;
    ~TOpenFd();
};

// A file of the user's choosing, written whole or not at all: under a
// temporary name in the folder the path leads to, then renamed over the
// name. The folder is opened once, before anything is written; the check
// above runs on that folder when it is opened and again just before the
// rename, so whatever becomes of the path meanwhile (a link changed, a
// folder renamed or mounted elsewhere), no file of the program's is
// replaced. A symbolic link at the name is followed, as a save through it
// would be. A folder, a pipe or a device at the name is refused: the rename
// would replace it.
class TCheckedWrite
{
public:
    // permissions: the new file's; by default those of the file it
    // replaces, or the usual ones of a new file.
    explicit TCheckedWrite(const QString& path, QFileDevice::Permissions permissions = {});
    ~TCheckedWrite(); // removes the temporary file unless committed
    TCheckedWrite(const TCheckedWrite&) = delete;
    TCheckedWrite& operator=(const TCheckedWrite&) = delete;

    // The temporary file, open for writing, unbuffered.
    QFileDevice& File() { return m_file; }
    // Writes all of the bytes; throws the system's reason.
    void Write(const QByteArray& bytes);
    // The bytes on the disk, the check once more, the rename.
    void Commit();
    // "无法写入 <path>：<reason>" for the path chosen.
    QString Failure(const QString& reason) const;

private:
    QString m_path;
    QString m_target; // the path with the links of its last name followed
    QString m_temporary;
    TOpenFd m_folder;
    QFile m_file;
    bool m_done = false;
};

// The same for a folder tree: built in a temporary folder beside the target
// and renamed into place at the end. The target must not exist or be an
// empty folder, and must not be one of the program's own files; the folders
// up to it are made.
class TCheckedFolderWrite
{
public:
    explicit TCheckedFolderWrite(const QString& target);
    virtual ~TCheckedFolderWrite(); // removes the temporary folder unless finished
    TCheckedFolderWrite(const TCheckedFolderWrite&) = delete;
    TCheckedFolderWrite& operator=(const TCheckedFolderWrite&) = delete;

    // The folder to build in.
    QString Path() const { return m_temporary; }
    void Finish();

private:
    QString m_target;
    QString m_temporary;
    TOpenFd m_folder;
    bool m_done = false;
};
