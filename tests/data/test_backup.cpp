#include "data/MD.h"
#include "data/UException.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <memory>

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
};

JOTTEREL_TEST_MAIN(TestBackup)
#include "test_backup.moc"
