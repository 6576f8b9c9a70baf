#include "app/Backup.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"

#include <QFile>
#include <QTemporaryDir>

namespace {
const char* const kRestoreError = "数据库恢复失败！";
} // namespace

QString SafetyCopyPath()
{
    return AppPath() + "tmpData.bat";
}

QString BackupFileName(const QString& chosen)
{
    if (chosen.endsWith(".bat", Qt::CaseInsensitive))
        return chosen;
    return chosen + ".bat";
}

void RestoreWithSafetyCopy(const QString& source)
{
    // Checked before the safety copy is written: a refused file must leave
    // the safety copy as it was.
    const QString problem = CheckDatabaseFile(source);
    if (!problem.isEmpty())
        throw EDBException(problem, kRestoreError, QString());
    // Read aside before the safety copy is written, since the chosen file may
    // be the safety copy itself.
    QTemporaryDir staging;
    if (!staging.isValid())
        throw EDBException(staging.errorString(), kRestoreError, QString());
    const QString staged = staging.filePath("bookkeep.dat");
    QFile chosen(source);
    if (!chosen.copy(staged))
        throw EDBException(QString("无法读取 %1：%2").arg(source, chosen.errorString()), kRestoreError, QString());
    DbBackup(SafetyCopyPath());
    DbRestore(staged);
}
