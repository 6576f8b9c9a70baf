#include "data/CleanExit.h"

#include "data/OwnFiles.h"
#include "data/UntPublic.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <sys/stat.h>

namespace {
// The first word of the record: a file of another format is no record.
const QByteArray kRecordTag = "jotterel-clean-exit-1";
// SQLite's file change counter: a big-endian 32-bit number at offset 24 of the header.
constexpr qint64 kCounterOffset = 24;

QByteArray RecordText(const TFileSigns& signs)
{
    return kRecordTag + ' ' + QByteArray::number(signs.Device) + ' ' + QByteArray::number(signs.Inode) + ' ' +
           QByteArray::number(signs.Size) + ' ' + QByteArray::number(signs.ModifiedNs) + ' ' +
           QByteArray::number(signs.ChangeCounter) + '\n';
}

std::optional<TFileSigns> ParseRecord(const QByteArray& text)
{
    const QList<QByteArray> words = text.trimmed().split(' ');
    if (words.size() != 6 || words[0] != kRecordTag)
        return std::nullopt;
    bool ok[5] = {};
    TFileSigns signs{words[1].toULongLong(&ok[0]), words[2].toULongLong(&ok[1]), words[3].toLongLong(&ok[2]),
                     words[4].toLongLong(&ok[3]), words[5].toUInt(&ok[4])};
    for (const bool valid : ok)
        if (!valid)
            return std::nullopt;
    return signs;
}
} // namespace

std::optional<TFileSigns> ReadFileSigns(const QString& path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(kCounterOffset))
        return std::nullopt;
    const QByteArray counter = file.read(4);
    if (counter.size() != 4)
        return std::nullopt;
    const auto byte = [&counter](int i) { return quint32(quint8(counter[i])); };
    return TFileSigns{quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size),
                      qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                      byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3)};
}

QString CleanExitPath(const QString& databasePath)
{
    return databasePath + kCleanExitSuffix;
}

bool RecordCleanExit(const QString& databasePath)
{
    const std::optional<TFileSigns> signs = ReadFileSigns(databasePath);
    if (!signs)
        return false;
    QSaveFile record(CleanExitPath(databasePath));
    return record.open(QIODevice::WriteOnly) && record.setPermissions(kOwnerOnly) &&
           record.write(RecordText(*signs)) >= 0 && record.commit();
}

bool LeftAsRecorded(const QString& databasePath)
{
    QFile record(CleanExitPath(databasePath));
    // A record is a line; anything larger is not one.
    if (!record.open(QIODevice::ReadOnly) || record.size() > 256)
        return false;
    const std::optional<TFileSigns> recorded = ParseRecord(record.readAll());
    return recorded && recorded == ReadFileSigns(databasePath);
}

bool ForgetCleanExit(const QString& databasePath)
{
    const QString path = CleanExitPath(databasePath);
    return QFile::remove(path) || !QFile::exists(path);
}
