#include "app/Backup.h"
#include "controls/UiException.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/Schema.h"
#include "support/DamagedFile.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>

// Backup and restore of the database file as a whole.
class TestBackup : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

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

    static int Mode(const QString& path)
    {
        struct stat info = {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
    }

    static void WriteFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    void backupIsAByteCopy()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'a')");
        DbBackup(env->Path("copy.bat"));
        QCOMPARE(FileHash(env->Path("copy.bat")), FileHash(DbAccess->DatabasePath()));
        // Replacing an earlier backup of that name.
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,0,'b')");
        DbBackup(env->Path("copy.bat"));
        QCOMPARE(FileHash(env->Path("copy.bat")), FileHash(DbAccess->DatabasePath()));
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
        const QByteArray before = FileHash(DbAccess->DatabasePath());
        const EDBException error = ExpectDbError([&] { DbBackup(env->Path(target)); });
        QCOMPARE(error.UserMessage, QString("数据库备份失败！"));
        QVERIFY(!error.Message().isEmpty());
        QCOMPARE(error.SQLText, QString());
        QCOMPARE(FileHash(DbAccess->DatabasePath()), before);
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
        QCOMPARE(DbGetIntValue("select count(*) from NoteType"), 1);
        // Staged aside and written in: no stray file is left.
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "copy.bat"}));
        // The database itself as the source changes nothing.
        DbRestore(DbAccess->DatabasePath());
        QCOMPARE(DbGetIntValue("select count(*) from NoteType"), 1);
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "copy.bat"}));
    }

    void refusedRestoreLeavesTheConnectionAlone()
    {
        QFile garbage(env->Path("garbage.bat"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("no database at all");
        garbage.close();
        DbAccess->OpenQuery("select * from SysSet");
        const QByteArray before = FileHash(DbAccess->DatabasePath());
        const EDBException error = ExpectDbError([&] { DbRestore(env->Path("garbage.bat")); });
        QCOMPARE(error.UserMessage, QString("数据库恢复失败！"));
        QVERIFY(!error.Message().isEmpty());
        QVERIFY(DbAccess->Connected());
        QVERIFY(DbAccess->QuerySet->Active()); // what the pages read is still there
        QCOMPARE(FileHash(DbAccess->DatabasePath()), before);
        const EDBException missing = ExpectDbError([&] { DbRestore(env->Path("missing.bat")); });
        QCOMPARE(missing.UserMessage, QString("数据库恢复失败！"));
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "garbage.bat"}));
    }

    void restoreUpgradesAnOlderBackupAndRefusesANewerOne_data()
    {
        QTest::addColumn<int>("backupVersion"); // relative to the program's version before the steps
        QTest::addColumn<QStringList>("steps"); // upgrade steps after the program's own
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("refusal"); // empty when the restore succeeds
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
        const QByteArray database = FileHash(DbAccess->DatabasePath());
        const QByteArray chosen = FileHash(backup);
        std::vector<TMigration> extra;
        for (const QString& sql : steps)
            extra.push_back({version + int(extra.size()), sql});
        TExtraMigrations installed(extra);

        if (refusal.isEmpty()) {
            RestoreWithSafetyCopy(backup);
            QCOMPARE(DbGetIntValue("PRAGMA user_version"), version + 2);
            QCOMPARE(DbGetIntValue("select x from Extra"), 42);
            QCOMPARE(DbGetIntValue("select count(*) from NoteType where TypeName='backup'"), 1);
            QCOMPARE(FileHash(SafetyCopyPath()), database);
        } else {
            const EDBException error = ExpectDbError([&] { RestoreWithSafetyCopy(backup); });
            QCOMPARE(error.UserMessage, QString("数据库恢复失败！"));
            QVERIFY2(error.Message().contains(refusal), qPrintable(error.Message()));
            QVERIFY(DbAccess->Connected());
            QCOMPARE(FileHash(DbAccess->DatabasePath()), database);
            QVERIFY(!QFile::exists(SafetyCopyPath()));
        }
        // The chosen file is only read, and no pre-upgrade copy lands beside the database.
        QCOMPARE(FileHash(backup), chosen);
        QVERIFY2(FilesInAppPath().filter(".v").isEmpty(), qPrintable(FilesInAppPath().join(' ')));
    }

    void damagedDatabaseIsNeverWritten()
    {
        const QByteArray damaged = ConnectDamaged();
        const QString path = env->Path("bookkeep.dat");
        QVERIFY(DbAccess->Connected()); // the schema reads: only the page check finds the damage
        // A write that comes before the check runs it first.
        const EDBException write = ExpectDbError([] { DbExecSQL("update SysSet set bPass=-1"); });
        QVERIFY2(write.Message().startsWith("数据库文件已损坏："), qPrintable(write.Message()));
        QVERIFY(!VerifyDatabase());
        QVERIFY2(env->Responder.LastText().startsWith("数据库连接失败！\r\n详细信息：数据库文件已损坏："),
                 qPrintable(env->Responder.LastText()));
        // No backup of it is written, and the reason is given.
        const EDBException backup = ExpectDbError([&] { DbBackup(env->Path("copy.bat")); });
        QCOMPARE(backup.UserMessage, QString("数据库备份失败！"));
        QVERIFY(backup.Message().startsWith("数据库文件已损坏："));
        QCOMPARE(FileHash(path), damaged);
        // Only the log is new, with the failure to open the file: the program ends after the box.
        QStringList files = FilesInAppPath();
        const QStringList logs = files.filter("Log");
        QCOMPARE(logs.size(), 1);
        files.removeOne(logs[0]);
        QCOMPARE(files, QStringList{"bookkeep.dat"});
        QFile log(env->Path(logs[0]));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(log.readAll()).contains("：数据库连接失败！\r\n详细信息：数据库文件已损坏："));
    }

    // Every copy holds the password and every note: the owner's alone, and
    // so is the database itself once opened (an older version made it 0644).
    void copiesAreOwnerOnly_data()
    {
        QTest::addColumn<int>("database");
        QTest::newRow("private") << 0600;
        QTest::newRow("the group reads") << 0640;
        QTest::newRow("everyone reads") << 0644;
    }

    void copiesAreOwnerOnly()
    {
        QFETCH(int, database);
        const mode_t mask = ::umask(022);
        QVERIFY(::chmod(QFile::encodeName(DbAccess->DatabasePath()).constData(), mode_t(database)) == 0);
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        QCOMPARE(Mode(DbAccess->DatabasePath()), 0600);
        QVERIFY(::chmod(QFile::encodeName(DbAccess->DatabasePath()).constData(), mode_t(database)) == 0);
        WriteFile(env->Path("earlier.bat"), "an earlier backup, readable by everyone");
        WriteFile(SafetyCopyPath(), "an earlier safety copy, readable by everyone");
        DbBackup(env->Path("copy.bat"));
        DbBackup(env->Path("earlier.bat"));
        RestoreWithSafetyCopy(env->Path("copy.bat"));
        ::umask(mask);
        QCOMPARE(Mode(env->Path("copy.bat")), 0600);
        QCOMPARE(Mode(env->Path("earlier.bat")), 0600);
        QCOMPARE(Mode(SafetyCopyPath()), 0600);
        QCOMPARE(Mode(DbAccess->DatabasePath()), 0600);
    }

    void restoreStagesBesideTheDatabase()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'a')");
        DbBackup(env->Path("copy.bat"));
        DbExecSQL("delete from NoteType");
        // No temporary folder is needed (nor its free space).
        const QByteArray temporary = qgetenv("TMPDIR");
        qputenv("TMPDIR", env->Path("no/such/folder").toUtf8());
        RestoreWithSafetyCopy(env->Path("copy.bat"));
        qputenv("TMPDIR", temporary);
        QCOMPARE(DbGetIntValue("select count(*) from NoteType"), 1);
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "copy.bat", "tmpData.bat"}));

        // What a killed restore leaves is gone at the next start; a file of
        // the user's that merely looks alike stays.
        for (const char* name : {"bookkeep.dat.part", "bookkeep.dat.part.v3", "tmpData.bat.part", "bookkeep.dat.bak"})
            WriteFile(env->Path(name), "left over");
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        RemoveRestoreLeftovers();
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "bookkeep.dat.bak", "copy.bat", "tmpData.bat"}));
    }

    // The files the program makes that hold the user's data are the owner's
    // alone from their first byte, whatever the umask lets others read.
    void newFilesAreOwnerOnly_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("new database") << "bookkeep.dat";
        QTest::newRow("log") << "Log20261208.log";
        QTest::newRow("copy before an upgrade") << QString("bookkeep.dat.v%1").arg(CurrentSchemaVersion());
    }

    void newFilesAreOwnerOnly()
    {
        QFETCH(QString, file);
        const mode_t mask = ::umask(022);
        delete DbAccess;
        DbAccess = nullptr;
        QVERIFY(QFile::remove(env->Path("bookkeep.dat")));
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        TClock::Set(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
        WriteLog("数据恢复！");
        const TExtraMigrations extra({{CurrentSchemaVersion(), "CREATE TABLE Extra(x)"}});
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        ::umask(mask);
        QVERIFY(QFile::exists(env->Path(file)));
        QCOMPARE(Mode(env->Path(file)), 0600);
    }

    // A backup in WAL mode keeps its latest changes in its -wal file, and a
    // data file may be a link into synced or encrypted storage: the restore
    // brings every row and writes the file the link points to.
    void restoreReadsTheWholeSourceAndKeepsTheLink_data()
    {
        QTest::addColumn<bool>("wal");
        QTest::addColumn<bool>("linked");
        QTest::newRow("backup in WAL mode") << true << false;
        QTest::newRow("data file a link") << false << true;
    }

    void restoreReadsTheWholeSourceAndKeepsTheLink()
    {
        QFETCH(bool, wal);
        QFETCH(bool, linked);
        QTemporaryDir storage;
        const QString target = storage.filePath("notes.db");
        if (linked) {
            delete DbAccess;
            DbAccess = nullptr;
            QVERIFY(QFile::rename(env->Path("bookkeep.dat"), target));
            QVERIFY(QFile::link(target, env->Path("bookkeep.dat")));
            DbAccess = new TDbAccess;
            DbAccess->Connect();
        }
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'in the file')");
        const QString backup = env->Path("backup.bat");
        DbBackup(backup);
        DbExecSQL("delete from NoteType");
        // Another program still has the backup open: its last rows are in the -wal file alone.
        sqlite3* writer = nullptr;
        QCOMPARE(sqlite3_open(backup.toUtf8().constData(), &writer), SQLITE_OK);
        const auto closeWriter = qScopeGuard([&] { sqlite3_close(writer); });
        if (wal) {
            const char* sql = "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                              "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,0,'in the wal')";
            QCOMPARE(sqlite3_exec(writer, sql, nullptr, nullptr, nullptr), SQLITE_OK);
            QVERIFY(QFileInfo(backup + "-wal").size() > 0);
        }

        RestoreWithSafetyCopy(backup);
        QCOMPARE(DbGetIntValue("select count(*) from NoteType"), wal ? 2 : 1);
        QCOMPARE(DbGetIntValue("select count(*) from NoteType where TypeName='in the wal'"), wal ? 1 : 0);
        DbAccess->OpenQuery("PRAGMA journal_mode"); // a byte copy of the data file stays a whole backup
        QCOMPARE(DbAccess->QuerySet->AsString(0), QString("delete"));
        QCOMPARE(QFileInfo(env->Path("bookkeep.dat")).isSymLink(), linked);
        if (linked) {
            QCOMPARE(QFileInfo(env->Path("bookkeep.dat")).symLinkTarget(), target);
            QCOMPARE(QDir(storage.path()).entryList(QDir::Files), QStringList{"notes.db"});
        }
        // After a restart too, from the file the link points to.
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        QCOMPARE(DbGetIntValue("select count(*) from NoteType"), wal ? 2 : 1);
    }

    // Whatever step fails, the user asked for a restore and is told that it
    // failed, with what went wrong in a few lines; the data stay as they were.
    void failedRestoresSayWhatWentWrong_data()
    {
        QTest::addColumn<bool>("damagedSource");
        QTest::addColumn<QString>("reason"); // how the details begin
        QTest::newRow("damaged source") << true << "数据库文件已损坏：";
        QTest::newRow("safety copy blocked") << false << "无法替换 ";
    }

    void failedRestoresSayWhatWentWrong()
    {
        QFETCH(bool, damagedSource);
        QFETCH(QString, reason);
        const QString source = env->Path("source.bat");
        if (damagedSource) {
            ConnectDamaged();
            QVERIFY(QFile::copy(env->Path("bookkeep.dat"), source));
            delete DbAccess;
            DbAccess = nullptr;
            QVERIFY(QFile::remove(env->Path("bookkeep.dat")));
            DbAccess = new TDbAccess;
            DbAccess->Connect();
        } else {
            DbBackup(source);
            QVERIFY(QDir().mkpath(SafetyCopyPath())); // a folder where the copy goes
        }
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'now')");
        const QByteArray before = FileHash(DbAccess->DatabasePath());
        const EDBException error = ExpectDbError([&] { RestoreWithSafetyCopy(source); });
        QCOMPARE(error.UserMessage, QString("数据库恢复失败！"));
        QVERIFY2(error.Message().startsWith(reason), qPrintable(error.Message()));
        QVERIFY2(error.Message().count('\n') <= 3, qPrintable(error.Message())); // three problems and "……"
        QVERIFY(DbAccess->Connected());
        QCOMPARE(FileHash(DbAccess->DatabasePath()), before);
        QCOMPARE(DbGetIntValue("select count(*) from NoteType where TypeName='now'"), 1);
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "source.bat"}));
    }

    void failedRestoreWriteGivesTheSystemsReason()
    {
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (0,'" + QString(100000, 'x') + "')");
        DbBackup(env->Path("copy.bat"));
        const QByteArray database = FileHash(DbAccess->DatabasePath());
        // Files may not grow past 16 KB for the time of the restore: its copy
        // of the chosen file fails part way, as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit small = {16384, limit.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QString message;
        QString userMessage;
        try {
            RestoreWithSafetyCopy(env->Path("copy.bat"));
        } catch (const EDBException& e) {
            message = e.Message();
            userMessage = e.UserMessage;
        }
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_DFL);
        QCOMPARE(userMessage, QString("数据库恢复失败！"));
        QVERIFY2(message.endsWith("：" + qt_error_string(EFBIG)), qPrintable(message));
        QCOMPARE(FileHash(DbAccess->DatabasePath()), database);
        QCOMPARE(FilesInAppPath(), (QStringList{"bookkeep.dat", "copy.bat"}));
    }
};

JOTTEREL_TEST_MAIN(TestBackup)
#include "test_backup.moc"
