#include "data/UntPublic.h"

#include "data/Clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
QString appPath;

QString WithSeparator(const QString& dir)
{
    QString path = QDir::fromNativeSeparators(dir);
    return path.endsWith('/') ? path : path + '/';
}

} // namespace

QString ChooseDataDirectory(const QString& executableDir)
{
    const QString exeDir = WithSeparator(executableDir);
    // An installed program (its home page under ../share) keeps its data per user even where it could write beside
    // itself, as root can in /usr/bin.
    const bool installed = QFileInfo::exists(exeDir + "../share/jotterel/home.html");
    if (QFileInfo::exists(exeDir + "bookkeep.dat") || (QFileInfo(exeDir).isWritable() && !installed))
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
        WriteLog(userMessage + "\r\n" + "详细信息：" + details + "\r\n" + sql);
}

void WriteLog(const QString& text)
{
    const QDateTime now = TClock::Now();
    const QString entry = now.toString("yyyy-MM-dd HH:mm:ss") + "：" + text + "\r\n";
    QFile file(AppPath() + "Log" + now.toString("yyyyMMdd") + ".log");
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(entry.toUtf8());
}
