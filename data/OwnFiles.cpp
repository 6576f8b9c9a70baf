#include "data/OwnFiles.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseSensitive;
#endif

const QString kBackupPrefix = QStringLiteral("bookkeep-");
const QString kBackupSuffix = QStringLiteral(".bat");

// The path with every symbolic link followed, also where the last one points
// at a name that does not exist yet: a write through the link makes it there.
QString Resolved(const QString& path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    // The systems give up after 40 links in a row as well.
    for (int hop = 0; hop < 40 && QFileInfo(current).isSymLink(); ++hop)
        current = QFileInfo(current).symLinkTarget();
    const QFileInfo info(current);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + '/' + info.fileName();
}

bool SamePath(const QString& a, const QString& b)
{
    return QDir::cleanPath(a).compare(QDir::cleanPath(b), kFileNameCase) == 0;
}

// A name the program uses in its data folder: the database, SQLite's files
// beside it, the upgrade copies (and their parts while written), the
// restore's staged copy, the record of the last clean exit, the single
// instance's lock, the safety copy.
bool IsOwnName(const QString& name)
{
    static const QRegularExpression own(
        QString(R"(^(%1(%4)?(-journal|-wal|-shm|\.v\d+(%4)?|%5)?|%2|%3(%4)?)$)")
            .arg(QRegularExpression::escape(kDatabaseFileName), QRegularExpression::escape(kLockFileName),
                 QRegularExpression::escape(kSafetyCopyFileName), QRegularExpression::escape(PartSuffix),
                 QRegularExpression::escape(kCleanExitSuffix)),
        kFileNameCase == Qt::CaseInsensitive ? QRegularExpression::CaseInsensitiveOption
                                             : QRegularExpression::NoPatternOption);
    return own.match(name).hasMatch();
}

// A backup's name, also while it is written (its part and SQLite's journal of it).
bool IsBackupName(const QString& name)
{
    QString day = name;
    for (const QString& suffix : {QString("-journal"), PartSuffix})
        if (day.endsWith(suffix))
            day.chop(suffix.size());
    return AutoBackupDay(day).isValid();
}

// A file's or folder's identity: device and inode, whatever the path to it.
struct TFileId
{
    dev_t Device = 0;
    ino_t Inode = 0;
    bool operator==(const TFileId&) const = default;
};

std::optional<TFileId> IdOf(const struct stat& info)
{
    return TFileId{info.st_dev, info.st_ino};
}

std::optional<TFileId> IdOf(const QString& path)
{
    struct stat info = {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return IdOf(info);
}

std::optional<TFileId> IdOfFd(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return IdOf(info);
}

// Whether the name in the folder (told by its identity) is one of the
// program's files: its own names in the data folder and in the folder of
// the file the database links to, the backups' names in their folder.
bool IsOwnEntry(const std::optional<TFileId>& folder, const QString& name)
{
    if (!folder)
        return false;
    if (folder == IdOf(AppPath()) && IsOwnName(name))
        return true;
    const QFileInfo database(Resolved(AppPath() + kDatabaseFileName));
    if (folder == IdOf(database.absolutePath()))
        for (const char* suffix : {"", "-journal", "-wal", "-shm"})
            if (name.compare(database.fileName() + QLatin1String(suffix), kFileNameCase) == 0)
                return true;
    return folder == IdOf(AutoBackupFolder()) && IsBackupName(name);
}

[[noreturn]] void Refuse(const QString& path)
{
    RaiseError(
        QString("不能写入 %1：这是本程序的数据文件、它的附属文件或自动备份，写入会毁掉数据或它的备份。请另选一个文件。")
            .arg(QDir::toNativeSeparators(path)));
}

QString WriteFailure(const QString& path, const QString& reason)
{
    return QString("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), reason);
}

// The folder of the resolved target, opened to work in; throws the reason.
int OpenFolder(const QString& path, const QString& target)
{
    const int fd =
        ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        RaiseError(WriteFailure(path, qt_error_string(errno)));
    return fd;
}

// The check of a name in an opened folder: not one of the program's files
// (by the folder's identity and the name, or the entry's own identity), and
// not something a rename must not replace. A link found at the name now was
// put there since its target was looked up.
void CheckEntry(int folder, const QString& name, const QString& path, bool folderWanted)
{
    if (IsOwnEntry(IdOfFd(folder), name))
        Refuse(path);
    struct stat entry = {};
    if (::fstatat(folder, QFile::encodeName(name).constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (S_ISLNK(entry.st_mode))
        RaiseError(WriteFailure(path, "写入时这个路径被改动了，请再试一次"));
    if (IdOf(entry) == IdOf(Resolved(AppPath() + kDatabaseFileName)))
        Refuse(path);
    if (folderWanted)
        return;
    if (S_ISDIR(entry.st_mode))
        RaiseError(WriteFailure(path, "这是一个文件夹"));
    if (!S_ISREG(entry.st_mode))
        RaiseError(WriteFailure(path, "这不是普通文件"));
}

QString TemporaryName(const QString& kind)
{
    return QString(".jotterel-%1-%2.part").arg(kind).arg(QRandomGenerator::global()->generate(), 8, 16, QChar('0'));
}

mode_t ModeOf(QFileDevice::Permissions permissions)
{
    mode_t mode = 0;
    const std::pair<QFileDevice::Permission, mode_t> bits[] = {
        {QFileDevice::ReadOwner, S_IRUSR}, {QFileDevice::WriteOwner, S_IWUSR}, {QFileDevice::ExeOwner, S_IXUSR},
        {QFileDevice::ReadGroup, S_IRGRP}, {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH}, {QFileDevice::WriteOther, S_IWOTH}, {QFileDevice::ExeOther, S_IXOTH}};
    for (const auto& [permission, bit] : bits)
        if (permissions.testFlag(permission))
            mode |= bit;
    return mode;
}
} // namespace

QString AutoBackupFileName(const QDate& day)
{
    return kBackupPrefix + day.toString(Qt::ISODate) + kBackupSuffix;
}

QDate AutoBackupDay(const QString& name)
{
    if (!name.startsWith(kBackupPrefix))
        return QDate();
    const QDate day = QDate::fromString(name.mid(kBackupPrefix.size(), 10), Qt::ISODate);
    return day.isValid() && AutoBackupFileName(day) == name ? day : QDate();
}

QString DefaultAutoBackupFolder()
{
    return AppPath() + "backups";
}

QString AutoBackupFolder()
{
    QString chosen;
    if (DbAccess && DbAccess->Connected()) {
        try {
            TStmtHandle statement = PrepareNative(DbAccess->Handle(), "select BackupDir from SysSet");
            if (sqlite3_step(statement.get()) == SQLITE_ROW)
                chosen = ColumnText(statement.get(), 0);
        } catch (const TSqlError&) {
            // A file of an older version holds no choice: the default it is.
        }
    }
    return chosen.isEmpty() ? DefaultAutoBackupFolder() : chosen;
}

TOpenFd::~TOpenFd()
{
    if (Fd >= 0)
        ::close(Fd);
}

bool IsOwnFile(const QString& path)
{
    const QFileInfo target(Resolved(path));
    if (SamePath(target.absolutePath(), Resolved(AppPath())) && IsOwnName(target.fileName()))
        return true;
    // A database that is a link to another folder: SQLite follows the link
    // and keeps its journal beside the file it points to.
    const QString database = Resolved(AppPath() + kDatabaseFileName);
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        if (SamePath(target.filePath(), database + QLatin1String(suffix)))
            return true;
    const std::optional<TFileId> file = IdOf(target.filePath());
    return IsOwnEntry(IdOf(target.absolutePath()), target.fileName()) || (file && file == IdOf(database));
}

void RefuseOwnFile(const QString& path)
{
    if (IsOwnFile(path))
        Refuse(path);
}

TCheckedWrite::TCheckedWrite(const QString& path, QFileDevice::Permissions permissions)
    : m_path(path), m_target(Resolved(path))
{
    RefuseOwnFile(path);
    m_folder.Fd = OpenFolder(path, m_target);
    const QByteArray name = QFile::encodeName(QFileInfo(m_target).fileName());
    CheckEntry(m_folder.Fd, QFileInfo(m_target).fileName(), path, false);
    struct stat existing = {};
    const bool replaces = ::fstatat(m_folder.Fd, name.constData(), &existing, 0) == 0;
    const mode_t mode = permissions ? ModeOf(permissions) : replaces ? existing.st_mode & 07777 : 0666;
    m_temporary = TemporaryName("file");
    const int fd = ::openat(m_folder.Fd, QFile::encodeName(m_temporary).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        RaiseError(Failure(qt_error_string(errno)));
    // The umask does not narrow what is asked for or kept.
    if (permissions || replaces)
        ::fchmod(fd, mode);
    m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
}

TCheckedWrite::~TCheckedWrite()
{
    m_file.close();
    if (!m_done)
        ::unlinkat(m_folder.Fd, QFile::encodeName(m_temporary).constData(), 0);
}

QString TCheckedWrite::Failure(const QString& reason) const
{
    return WriteFailure(m_path, reason);
}

void TCheckedWrite::Write(const QByteArray& bytes)
{
    // A write that the disk cuts short says nothing; the next one, of the
    // rest, fails with the system's reason (a full disk, say).
    for (qint64 done = 0; done < bytes.size();) {
        errno = 0;
        const qint64 written = m_file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            RaiseError(Failure(FileErrorText(m_file, errno)));
        done += written;
    }
}

void TCheckedWrite::Commit()
{
    if (::fsync(m_file.handle()) != 0)
        RaiseError(Failure(qt_error_string(errno)));
    m_file.close();
    const QString name = QFileInfo(m_target).fileName();
    CheckEntry(m_folder.Fd, name, m_path, false);
    if (::renameat(m_folder.Fd, QFile::encodeName(m_temporary).constData(), m_folder.Fd,
                   QFile::encodeName(name).constData()) != 0)
        RaiseError(Failure(qt_error_string(errno)));
    m_done = true;
    ::fsync(m_folder.Fd);
}

TCheckedFolderWrite::TCheckedFolderWrite(const QString& target) : m_target(Resolved(target))
{
    RefuseOwnFile(target);
    const QFileInfo info(m_target);
    if (info.exists() && !info.isDir())
        RaiseError(WriteFailure(target, "已有同名的文件"));
    if (info.isDir() && !QDir(m_target).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        RaiseError(WriteFailure(target, "文件夹已存在且不是空的"));
    if (!QDir().mkpath(info.absolutePath()))
        RaiseError(WriteFailure(info.absolutePath(), "无法建立文件夹"));
    m_folder.Fd = OpenFolder(target, m_target);
    CheckEntry(m_folder.Fd, QFileInfo(m_target).fileName(), target, true);
    const QString name = TemporaryName("folder");
    if (::mkdirat(m_folder.Fd, QFile::encodeName(name).constData(), S_IRWXU) != 0)
        RaiseError(WriteFailure(target, qt_error_string(errno)));
    m_temporary = QFileInfo(m_target).absolutePath() + '/' + name;
}

TCheckedFolderWrite::~TCheckedFolderWrite()
{
    if (!m_done && !m_temporary.isEmpty())
        QDir(m_temporary).removeRecursively();
}

void TCheckedFolderWrite::Finish()
{
    const QString name = QFileInfo(m_target).fileName();
    CheckEntry(m_folder.Fd, name, m_target, true);
    // The temporary folder is made with the owner's rights only; the tree is
    // the user's, as a folder they made themselves would be.
    const QByteArray temporary = QFile::encodeName(QFileInfo(m_temporary).fileName());
    ::fchmodat(m_folder.Fd, temporary.constData(), S_IRWXU | S_IRGRP | S_IXGRP | S_IROTH | S_IXOTH, 0);
    // An empty folder in the way is replaced by the rename itself.
    if (::renameat(m_folder.Fd, temporary.constData(), m_folder.Fd, QFile::encodeName(name).constData()) != 0)
        RaiseError(WriteFailure(m_target, qt_error_string(errno)));
    m_done = true;
}
