#include "app/LockFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Never through a link: the holder's lines would overwrite its target.
// Another user's file, or one on a read-only medium, is opened to read:
// locking needs no writing. -1, with errno set, when it cannot be opened.
int OpenForLock(const QByteArray& name, bool* writable)
{
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    *writable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    return fd;
}

bool NamesFile(const QByteArray& name, int fd)
{
    struct stat opened = {};
    struct stat named = {};
    return ::fstat(fd, &opened) == 0 && ::stat(name.constData(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

} // namespace
#endif

TLockFile::TLockFile(QString path, QString note) : m_path(std::move(path)), m_note(std::move(note)) {}

TLockFile::~TLockFile()
{
    Unlock();
}

void TLockFile::Unlock()
{
#ifdef Q_OS_UNIX
    if (m_fd >= 0) {
        // Removed while still held: a start that opened the file meanwhile
        // finds it gone once it has the lock, and makes a new one. A file
        // made under the name after ours was deleted is not ours to remove.
        const QByteArray name = QFile::encodeName(m_path);
        if (NamesFile(name, m_fd))
            ::unlink(name.constData());
        ::close(m_fd);
        m_fd = -1;
    }
#endif
    if (m_fallback)
        m_fallback->unlock();
}

TLockFile::TResult TLockFile::TryLock()
{
    if (IsLocked())
        return TResult::Taken;
#ifdef Q_OS_UNIX
    if (!m_fallback)
        return TrySystemLock();
#endif
    return TryFallback();
}

bool TLockFile::IsLocked() const
{
    return m_fd >= 0 || (m_fallback && m_fallback->isLocked());
}

bool TLockFile::HolderInfo(qint64* pid, QString* host) const
{
    return QLockFile(m_path).getLockInfo(pid, host, nullptr);
}

QString TLockFile::HolderNote() const
{
    // After the five lines QLockFile reads.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
    return lines.size() > 5 ? QString::fromUtf8(lines[5]) : QString();
}

TLockFile::TResult TLockFile::TrySystemLock()
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(m_path);
    for (int attempt = 0; attempt < 10; ++attempt) {
        bool writable = false;
        const int fd = OpenForLock(name, &writable);
        if (fd < 0) // a link, say, goes to QLockFile, which takes such a file for held
            return errno == EACCES || errno == EROFS || errno == ENOENT ? TResult::Failed : TryFallback();
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            return error == EWOULDBLOCK ? TResult::Held : TryFallback(); // a file system without this lock
        }
        if (NamesFile(name, fd)) {
            m_fd = fd;
            if (writable)
                WriteHolder();
            return TResult::Taken;
        }
        // The holder ended between the open and the lock and removed the
        // file: a lock on it would keep nobody out.
        ::close(fd);
    }
    return TResult::Held;
#else
    return TryFallback();
#endif
}

TLockFile::TResult TLockFile::TryFallback()
{
    if (!m_fallback) {
        m_fallback.emplace(m_path);
        m_fallback->setStaleLockTime(FallbackStaleLockTimeMs);
    }
    if (m_fallback->tryLock(0))
        return TResult::Taken;
    return m_fallback->error() == QLockFile::LockFailedError ? TResult::Held : TResult::Failed;
}

// The lines QLockFile writes: process id, program, host, host id, boot id.
void TLockFile::WriteHolder() const
{
#ifdef Q_OS_UNIX
    const QByteArray lines = QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                             QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() + '\n' +
                             QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n' +
                             QSysInfo::bootUniqueId() + '\n' + m_note.toUtf8() + '\n';
    if (::ftruncate(m_fd, 0) != 0)
        return;
    // Only a description of the holder: the lock does not depend on it.
    for (qsizetype done = 0; done < lines.size();) {
        const ssize_t written = ::pwrite(m_fd, lines.constData() + done, size_t(lines.size() - done), off_t(done));
        if (written <= 0)
            return;
        done += written;
    }
#endif
}

TSystemLock::TSystemLock(QString path, TKind kind) : m_path(std::move(path)), m_kind(kind) {}

TSystemLock::~TSystemLock()
{
    Unlock();
}

TLockFile::TResult TSystemLock::TryLock()
{
    if (IsLocked())
        return TLockFile::TResult::Taken;
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_RDONLY | O_CLOEXEC | (m_kind == TKind::Directory ? O_DIRECTORY : O_NONBLOCK));
    if (fd < 0)
        return TLockFile::TResult::Failed;
    struct stat opened = {};
    if (m_kind == TKind::File && (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))) {
        ::close(fd); // a pipe or a device is no data file
        return TLockFile::TResult::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? TLockFile::TResult::Held : TLockFile::TResult::Failed;
    }
    m_fd = fd;
    return TLockFile::TResult::Taken;
#else
    return TLockFile::TResult::Failed;
#endif
}

void TSystemLock::Unlock()
{
#ifdef Q_OS_UNIX
    if (m_fd >= 0)
        ::close(m_fd);
#endif
    m_fd = -1;
}
