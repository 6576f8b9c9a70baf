#include "app/Backup.h"
#include "data/MD.h"
#include "data/Schema.h"
#include "data/UException.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>
#include <sqlite3.h>

// Backup and restore of the database file as a whole.
class TestBackup : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

    static QByteArray Hash(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1);
    }

    template <typename F> static EDBException ExpectDbError(F action)
    {
        try {
            action();
        } catch (const EDBException& e) {
            return e;
        }
        qFatal("no database error was raised");
    }

    QStringList FilesInAppPath() const { return QDir(env->Dir.path()).entryList(QDir::Files | QDir::Hidden); }

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    void backupIsAByteCopy()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'a')");
        DbBackup(env->Path("copy.bat"));
        QCOMPARE(Hash(env->Path("copy.bat")), Hash(DbAccess->DatabasePath()));
        // Replacing an earlier backup of that name.
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,0,'b')");
        DbBackup(env->Path("copy.bat"));
        QCOMPARE(Hash(env->Path("copy.bat")), Hash(DbAccess->DatabasePath()));
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "copy.bat"}));
    }

    void backupFailuresAreReported_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("missing folder") << "no/such/folder/x.bat";
        QTest::newRow("a folder of that name") << "folder.bat";
        QTest::newRow("the database itself") << "bookkeep.dat";
    }

    void backupFailuresAreReported()
    {
        QFETCH(QString, target);
        QDir().mkpath(env->Path("folder.bat"));
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'a')");
        const QByteArray before = Hash(DbAccess->DatabasePath());
        const EDBException error = ExpectDbError([&] { DbBackup(env->Path(target)); });
        QCOMPARE(error.UserMessage, QString("数据库备份失败！"));
        QVERIFY(!error.Message().isEmpty());
        QCOMPARE(error.SQLText, QString());
        QCOMPARE(Hash(DbAccess->DatabasePath()), before);
        QCOMPARE(DbGetIntValue("select count(*) from NoteType"), 1);
        QCOMPARE(FilesInAppPath(), QStringList{"bookkeep.dat"});
    }

    void restoreReplacesTheDatabase()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'old')");
        DbBackup(env->Path("copy.bat"));
        DbExecSQL("delete from NoteType");
        DbRestore(env->Path("copy.bat"));
        QVERIFY(DbAccess->Connected());
        QCOMPARE(Hash(DbAccess->DatabasePath()), Hash(env->Path("copy.bat")));
        QCOMPARE(DbGetIntValue("select count(*) from NoteType"), 1);
        // Written aside and renamed: no stray file is left.
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "copy.bat"}));
        // The database itself as the source changes nothing.
        const QByteArray before = Hash(DbAccess->DatabasePath());
        DbRestore(DbAccess->DatabasePath());
        QCOMPARE(Hash(DbAccess->DatabasePath()), before);
        QCOMPARE(DbGetIntValue("select count(*) from NoteType"), 1);
    }

    void refusedRestoreLeavesTheConnectionAlone()
    {
        QFile garbage(env->Path("garbage.bat"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("no database at all");
        garbage.close();
        DbAccess->OpenQuery("select * from SysSet");
        const QByteArray before = Hash(DbAccess->DatabasePath());
        const EDBException error = ExpectDbError([&] { DbRestore(env->Path("garbage.bat")); });
        QCOMPARE(error.UserMessage, QString("数据库恢复失败！"));
        QVERIFY(!error.Message().isEmpty());
        QVERIFY(DbAccess->Connected());
        QVERIFY(DbAccess->QuerySet->Active()); // what the pages read is still there
        QCOMPARE(Hash(DbAccess->DatabasePath()), before);
        const EDBException missing = ExpectDbError([&] { DbRestore(env->Path("missing.bat")); });
        QCOMPARE(missing.UserMessage, QString("数据库恢复失败！"));
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "garbage.bat"}));
    }

    void restoreUpgradesAnOlderBackupAndRefusesANewerOne_data()
    {
        QTest::addColumn<int>("backupVersion"); // relative to the program's version before the steps
        QTest::addColumn<QStringList>("steps");  // upgrade steps after the program's own
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("refusal");    // empty when the restore succeeds
        const QStringList steps{"CREATE TABLE Extra(x)", "INSERT INTO Extra VALUES (42)"};
        QTest::newRow("older") << 0 << steps << false << QString();
        QTest::newRow("older and read-only") << 0 << steps << true << QString();
        QTest::newRow("older, failing step")
            << 0 << QStringList{"CREATE TABLE Extra(x)", "INSERT INTO NoSuchTable VALUES (1)"} << false
            << QString("no such table: NoSuchTable");
        QTest::newRow("newer") << 1 << QStringList() << false << QString("比本程序新");
    }

    void restoreUpgradesAnOlderBackupAndRefusesANewerOne()
    {
        QFETCH(int, backupVersion);
        QFETCH(QStringList, steps);
        QFETCH(bool, readOnly);
        QFETCH(QString, refusal);
        const int version = CurrentSchemaVersion();
        const QString backup = env->Path("backup.bat");
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'backup')");
        DbBackup(backup);
        if (backupVersion) {
            sqlite3* db = nullptr;
            QCOMPARE(sqlite3_open(backup.toUtf8().constData(), &db), SQLITE_OK);
            const QByteArray pragma = "PRAGMA user_version=" + QByteArray::number(version + backupVersion);
            QCOMPARE(sqlite3_exec(db, pragma.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        if (readOnly) {
            QVERIFY(QFile::setPermissions(backup, QFile::ReadOwner));
            if (QFileInfo(backup).isWritable())
                QSKIP("no file here is closed to writing");
        }
        DbExecSQL("delete from NoteType");
        const QByteArray database = Hash(DbAccess->DatabasePath());
        const QByteArray chosen = Hash(backup);
        std::vector<TMigration> extra;
        for (const QString& sql : steps)
            extra.push_back({version + int(extra.size()), sql});
        TExtraMigrations installed(extra);

        if (refusal.isEmpty()) {
            RestoreWithSafetyCopy(backup);
            QCOMPARE(DbGetIntValue("PRAGMA user_version"), version + 2);
            QCOMPARE(DbGetIntValue("select x from Extra"), 42);
            QCOMPARE(DbGetIntValue("select count(*) from NoteType where TypeName='backup'"), 1);
            QCOMPARE(Hash(SafetyCopyPath()), database);
        } else {
            const EDBException error = ExpectDbError([&] { RestoreWithSafetyCopy(backup); });
            QCOMPARE(error.UserMessage, QString("数据库恢复失败！"));
            QVERIFY2(error.Message().contains(refusal), qPrintable(error.Message()));
            QVERIFY(DbAccess->Connected());
            QCOMPARE(Hash(DbAccess->DatabasePath()), database);
            QVERIFY(!QFile::exists(SafetyCopyPath()));
        }
        // The chosen file is only read, and no pre-upgrade copy lands beside the database.
        QCOMPARE(Hash(backup), chosen);
        QVERIFY(FilesInAppPath().filter(".v").isEmpty());
    }
};

JOTTEREL_TEST_MAIN(TestBackup)
#include "test_backup.moc"
