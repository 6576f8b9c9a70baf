#include "history/AutoBackup.h"

#include "data/MD.h"
#include "data/OwnFiles.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <algorithm>
#include <sqlite3.h>

namespace {

// The newest days first, one of each period the key groups them by, up to count periods.
template <typename Key> void KeepNewestPerPeriod(const QList<QDate>& newestFirst, int count, Key key, QSet<QDate>& kept)
{
    QSet<qint64> periods;
    for (const QDate& day : newestFirst) {
        const qint64 period = key(day);
        if (periods.contains(period))
            continue;
        if (periods.size() == count)
            break;
        periods.insert(period);
        kept.insert(day);
    }
}

int CountRows(sqlite3* db, const char* table)
{
    TStmtHandle statement = PrepareNative(db, QString("select count(*) from %1").arg(table));
    if (sqlite3_step(statement.get()) != SQLITE_ROW)
        ThrowSqlError(db);
    return sqlite3_column_int(statement.get(), 0);
}
} // namespace

TAutoBackups::TAutoBackups(QString folder) : m_folder(std::move(folder)) {}

QList<TAutoBackupFile> TAutoBackups::List() const
{
    QList<TAutoBackupFile> backups;
    const QDir dir(m_folder);
    for (const QFileInfo& file : dir.entryInfoList({"bookkeep-*.bat"}, QDir::Files)) {
        const QDate day = AutoBackupDay(file.fileName());
        if (day.isValid())
            backups.append({file.filePath(), day, file.size()});
    }
    std::sort(backups.begin(), backups.end(),
              [](const TAutoBackupFile& a, const TAutoBackupFile& b) { return a.Day > b.Day; });
    return backups;
}

bool TAutoBackups::Due(const QDate& today) const
{
    const QList<TAutoBackupFile> backups = List();
    return backups.isEmpty() || backups.first().Day < today;
}

QString TAutoBackups::Write(sqlite3* db, const QDate& today) const
{
    if (!QDir().mkpath(m_folder))
        throw EError(QString("不能建立备份文件夹 %1").arg(QDir::toNativeSeparators(m_folder)));
    const QString target = QDir(m_folder).filePath(AutoBackupFileName(today));
    // Written under a name no listing takes for a backup, checked, and only
    // then given its day's name: a half-written or damaged copy is never
    // offered for a restore.
    const QString part = target + PartSuffix;
    RemoveKilledCopies();
    QString problem;
    try {
        TDbHandle copy = OpenPlain(part, true);
        CopyDatabase(db, copy.get());
    } catch (const TSqlError& e) {
        problem = e.Message;
    }
    if (problem.isEmpty())
        problem = CheckDatabaseFile(part);
    if (problem.isEmpty() && !QFile::setPermissions(part, kOwnerOnly))
        problem = "不能设置备份文件的权限";
    if (problem.isEmpty()) {
        QFile::remove(target);
        if (!QFile::rename(part, target))
            problem = "不能给备份文件改名";
    }
    if (!problem.isEmpty()) {
        // A copy cut short (a full disk) leaves SQLite's journal of it too.
        RemoveDatabaseFile(part);
        throw EError(QString("自动备份失败：%1").arg(problem));
    }
    return target;
}

void TAutoBackups::RemoveKilledCopies() const
{
    const QDir dir(m_folder);
    for (const QString& name : dir.entryList({"bookkeep-*.bat" + PartSuffix + "*"}, QDir::Files | QDir::Hidden)) {
        const QString backup = name.left(name.indexOf(PartSuffix));
        if (AutoBackupDay(backup).isValid())
            RemoveDatabaseFile(dir.filePath(backup + PartSuffix));
    }
}

QStringList TAutoBackups::Prune() const
{
    const QList<TAutoBackupFile> backups = List();
    QList<QDate> days;
    for (const TAutoBackupFile& backup : backups)
        days << backup.Day;
    const QList<QDate> kept = KeptBackupDays(days);
    QStringList removed;
    for (const TAutoBackupFile& backup : backups)
        if (!kept.contains(backup.Day) && QFile::remove(backup.Path))
            removed << backup.Path;
    return removed;
}

QList<QDate> KeptBackupDays(QList<QDate> days)
{
    std::sort(days.begin(), days.end(), std::greater<QDate>());
    QSet<QDate> kept;
    for (qsizetype i = 0; i < std::min<qsizetype>(7, days.size()); ++i)
        kept.insert(days[i]);
    KeepNewestPerPeriod(
        days, 4,
        [](const QDate& day) {
            int year = 0;
            const int week = day.weekNumber(&year);
            return qint64(year) * 100 + week;
        },
        kept);
    KeepNewestPerPeriod(
        days, 12, [](const QDate& day) { return qint64(day.year()) * 100 + day.month(); }, kept);
    QList<QDate> result(kept.begin(), kept.end());
    std::sort(result.begin(), result.end(), std::greater<QDate>());
    return result;
}

QString RunAutoBackup(const QString& databasePath, const QString& folder, const QDate& today)
{
    const TAutoBackups backups(folder);
    if (!backups.Due(today))
        return QString();
    QString written;
    try {
        TDbHandle source = OpenReadOnly(databasePath, 2000);
        written = backups.Write(source.get(), today);
    } catch (const std::exception& e) {
        // The copy is checked in full; when it fails, the data file is
        // checked the same way, so that damage there is told apart from a
        // failure of the backup alone (a full disk, a folder gone).
        QString damage;
        try {
            damage = IntegrityCheckFile(databasePath, 2000);
        } catch (const TSqlError&) {
            // Not read (held by a writer): the backup's own failure is all that is known.
        }
        if (!damage.isEmpty())
            throw ELiveFileDamaged(damage);
        if (dynamic_cast<const EError*>(&e))
            throw;
        throw EError(QString("自动备份失败：%1").arg(QString::fromUtf8(e.what())));
    }
    backups.Prune();
    return written;
}

void SaveAutoBackupFolder(const QString& folder)
{
    const QString kept = folder == DefaultAutoBackupFolder() ? QString() : folder;
    DbAccess->Batch([&] {
        TStmtHandle statement = PrepareNative(DbAccess->Handle(), "update SysSet set BackupDir=?");
        BindText(statement.get(), 1, kept);
        RunToEnd(DbAccess->Handle(), statement.get());
    });
}

QString TBackupContents::Text() const
{
    return QString("%1 个分组，%2 篇记事，%3 个网址，%4 个提醒").arg(Groups).arg(Notes).arg(Bookmarks).arg(Reminders);
}

TBackupContents ReadBackupContents(const QString& path)
{
    try {
        TDbHandle db = OpenReadOnly(path, 2000);
        return {CountRows(db.get(), "NoteType") + CountRows(db.get(), "IEType"), CountRows(db.get(), "NoteBook"),
                CountRows(db.get(), "IE"), CountRows(db.get(), "Alam")};
    } catch (const TSqlError& e) {
        throw EError(QString("不能读取备份文件：%1").arg(e.Message));
    }
}
