#include "data/UntPublic.h"

#include "data/Clock.h"
#include "data/JetBridge.h"
#include "data/OwnFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString appPath;

QString WithSeparator(const QString& dir)
{
    QString path = QDir::fromNativeSeparators(dir);
    return path.endsWith('/') ? path : path + '/';
}
} // namespace

QString CannotRead(const QFileDevice& file)
{
    return QString("无法读取 %1：%2").arg(file.fileName(), FileErrorText(file));
}

QString ChooseDataDirectory(const QString& executableDir)
{
    const QString exeDir = WithSeparator(executableDir);
    // An installed program (its home page under ../share) keeps its data per user even where it could write beside
    // itself, as root can in /usr/bin.
    const bool installed = QFileInfo::exists(exeDir + "../share/jotterel/home.html");
    if (QFileInfo::exists(exeDir + kDatabaseFileName) || (QFileInfo(exeDir).isWritable() && !installed))
        return exeDir;
    // An installed program: its directory is not ours to write.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return WithSeparator(data);
}

QString AppPath()
{
    if (appPath.isEmpty())
        appPath = ChooseDataDirectory(QCoreApplication::applicationDirPath());
    return appPath;
}

void SetAppPath(const QString& dir)
{
    appPath = WithSeparator(dir);
}

QStringList SplitString(const QString& text, const QString& separator)
{
    QStringList pieces;
    QString rest = text;
    qsizetype at;
    while (!separator.isEmpty() && (at = rest.indexOf(separator)) >= 0) {
        pieces << rest.left(at);
        rest = rest.mid(at + separator.size());
    }
    pieces << rest;
    return pieces;
}

QString SqlText(const QString& value)
{
    QString escaped = value;
    return escaped.replace('\'', "''");
}

QString FormatSQL(const QString& pattern, const QStringList& values)
{
    QString result;
    qsizetype from = 0;
    for (const QString& value : values) {
        const qsizetype at = pattern.indexOf("%s", from);
        if (at < 0)
            break;
        result += pattern.mid(from, at - from) + value;
        from = at + 2;
    }
    return result + pattern.mid(from);
}

QString TrimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

void LogDbError(const QString& userMessage, const QString& details, const QString& sql)
{
    if (!sql.isEmpty())
        WriteLog(userMessage + "\r\n" + "详细信息：" + JetBridge::MaskLiterals(details) + "\r\n" +
                 JetBridge::MaskLiterals(sql));
}

void WriteLog(const QString& text)
{
    const QDateTime now = TClock::Now();
    const QString entry = now.toString("yyyy-MM-dd HH:mm:ss") + "：" + text + "\r\n";
    QFile file(AppPath() + "Log" + now.toString("yyyyMMdd") + ".log");
    if (file.open(QIODevice::WriteOnly | QIODevice::Append, kOwnerOnly))
        file.write(entry.toUtf8());
}

QString CannotWrite(const QFileDevice& file)
{
    return QString("无法写入 %1：%2").arg(file.fileName(), FileErrorText(file));
}

QString FileErrorText(const QFileDevice& file, int systemError)
{
    const QString said = file.errorString();
    // QIODevice's own text for "no reason kept", in whatever language Qt speaks.
    if (!said.isEmpty() && said != QFile().errorString())
        return said;
    return systemError ? qt_error_string(systemError) : QString("系统没有说明原因");
}

TPlainRead ReadPlainFile(const QString& path, qint64 most, QByteArray& bytes, qint64& size, QString& reason)
{
    bytes.clear();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = qt_error_string(errno);
        return TPlainRead::Failed;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return TPlainRead::NotPlain;
    size = info.st_size;
    if (size > most)
        return TPlainRead::TooLarge;
    errno = 0;
    bytes = file.read(most + 1);
    const int error = errno;
    if (file.error() != QFileDevice::NoError) {
        bytes.clear();
        reason = FileErrorText(file, error);
        return TPlainRead::Failed;
    }
    if (bytes.size() > most) { // grown since it was measured
        size = bytes.size();
        bytes.clear();
        return TPlainRead::TooLarge;
    }
    return TPlainRead::Read;
}

QString CopyFileContents(const QString& source, QFileDevice& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return CannotRead(in);
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            return CannotRead(in);
        // A write that the disk cuts short says nothing; the next one, of
        // the rest, fails with the system's reason (a full disk, say).
        for (qint64 done = 0; done < chunk.size();) {
            const qint64 written = target.write(chunk.constData() + done, chunk.size() - done);
            if (written <= 0)
                return CannotWrite(target);
            done += written;
        }
    }
    if (!target.flush())
        return CannotWrite(target);
    return {};
}

QString WriteFileCopy(const QString& source, const QString& target, QFileDevice::Permissions permissions)
{
    QFile::remove(target);
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered, permissions))
        return CannotWrite(out);
    QString problem = CopyFileContents(source, out);
    if (problem.isEmpty() && ::fsync(out.handle()) != 0)
        problem = QString("无法写入 %1：%2").arg(target, qt_error_string(errno));
    return problem;
}

QString ReplaceFile(const QString& from, const QString& to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return QString("无法替换 %1：%2").arg(to, qt_error_string(errno));
    return {};
}
