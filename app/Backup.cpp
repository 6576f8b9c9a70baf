#include "app/Backup.h"

#include "data/MD.h"
#include "data/OwnFiles.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
