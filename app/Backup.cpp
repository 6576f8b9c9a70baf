#include "app/Backup.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/OwnFiles.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "history/AutoBackup.h"
#include "history/NoteHistory.h"
#include "history/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

QString SafetyCopyPath()
{
    return AppPath() + kSafetyCopyFileName;
}

QString BackupFileName(const QString& chosen)
{
    const QString name = chosen.endsWith(".bat", Qt::CaseInsensitive) ? chosen : chosen + ".bat";
    RefuseOwnFile(name); // the safety copy, say, or a link to the database
    return name;
}

void RestoreWithSafetyCopy(const QString& source)
{
    // Checked and copied beside the database before the safety copy is
    // written: a refused file must leave the safety copy as it was, and the
    // chosen file may be the safety copy itself.
    DbAccess->StageRestore(source);
    try {
        DbBackup(SafetyCopyPath(), true);
    } catch (const EDBException& e) {
        // The user asked for a restore: it is the restore that failed.
        DbAccess->DiscardStaged();
        throw EDBException(e.Message(), kRestoreErrorText, QString());
    } catch (...) {
        DbAccess->DiscardStaged();
        throw;
    }
    DbAccess->RestoreStaged();
    // What was deleted and the notes' earlier texts stay within reach: the
    // restored data take in those of the data before.
    try {
        TTrash().MergeFrom(SafetyCopyPath());
        TNoteHistory().MergeFrom(SafetyCopyPath(), TClock::Now());
    } catch (const EError& e) {
        WriteLog("恢复后，回收站和历史版本未能全部合并（恢复前的数据仍在 " + SafetyCopyPath() + "）：" + e.Message());
    }
}

namespace {
// "2026年12月8日 的自动备份", or for another file the time it was written.
QString SourceText(const QString& source)
{
    const QFileInfo file(source);
    if (file.absoluteFilePath() == QFileInfo(SafetyCopyPath()).absoluteFilePath())
        return QString("上次恢复之前的数据（%1 保存）")
            .arg(QLocale().toString(file.lastModified(), QLocale::ShortFormat));
    const QDate day = AutoBackupDay(file.fileName());
    if (day.isValid())
        return QString("%1 的自动备份").arg(QLocale().toString(day, QLocale::LongFormat));
    return QString("%1（%2 写入）")
        .arg(QDir::toNativeSeparators(source), QLocale().toString(file.lastModified(), QLocale::ShortFormat));
}
} // namespace

QString RestoreQuestion(const QString& source)
{
    TBackupContents chosen;
    try {
        chosen = ReadBackupContents(source);
    } catch (const EError& e) {
        throw EDBException(e.Message(), kRestoreErrorText, QString());
    }
    return QString("要用%1恢复数据吗？\n其中有：%2\n现在的数据：%3\n"
                   "恢复后，现在的数据会另存起来，可以撤销恢复；回收站和历史版本都会保留。")
        .arg(SourceText(source), chosen.Text(), ReadBackupContents(DbAccess->DatabasePath()).Text());
}

QString RestoredText(const QString& source)
{
    return QString("数据已恢复为%1。\n恢复之前的数据另存在 %2，点“撤销恢复”就能回到恢复之前"
                   "（保存到下一次恢复为止，也可以在“数据恢复”中选它）。")
        .arg(SourceText(source), QDir::toNativeSeparators(SafetyCopyPath()));
}

void RemoveRestoreLeftovers()
{
    DbAccess->DiscardStaged(); // the database itself is whole
    QFile::remove(SafetyCopyPath() + PartSuffix);
    // An upgrade's copy of the file as it was, cut short.
    const QFileInfo database(DbAccess->DatabasePath());
    const QString prefix = database.fileName() + ".v";
    for (const QString& name : database.dir().entryList(QDir::Files))
        if (name.startsWith(prefix) && name.endsWith(PartSuffix))
            QFile::remove(database.dir().filePath(name));
}
