#include "app/Backup.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"

#include <QFile>

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
    // Checked and copied beside the database before the safety copy is
    // written: a refused file must leave the safety copy as it was, and the
    // chosen file may be the safety copy itself.
    DbAccess->StageRestore(source);
    try {
        DbBackup(SafetyCopyPath(), true);
    } catch (...) {
        DbAccess->DiscardStaged();
        throw;
    }
    DbAccess->RestoreStaged();
}

void RemoveRestoreLeftovers()
{
    DbAccess->DiscardStaged(); // the database itself is whole
    QFile::remove(SafetyCopyPath() + PartSuffix);
}
