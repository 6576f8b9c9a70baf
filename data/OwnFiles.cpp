#include "data/OwnFiles.h"

#include "data/UException.h"
#include "data/UntPublic.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseSensitive;
#endif

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
} // namespace

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
    return false;
}

void RefuseOwnFile(const QString& path)
{
    if (IsOwnFile(path))
        RaiseError(QString("不能写入 %1：这是本程序的数据文件或它的附属文件，写入会毁掉全部数据。请另选一个文件。")
                       .arg(QDir::toNativeSeparators(path)));
}
