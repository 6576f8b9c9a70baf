#include "data/CleanExit.h"
#include "data/MD.h"
#include "support/StoreTest.h"

#include <QFile>
#include <QtEndian>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

// A start trusts the data file without reading its pages only when it is
// exactly as the program left it, checked, at its last clean exit.
class TestCleanExit : public QObject
{
    Q_OBJECT

    std::unique_ptr<TStoreEnv> env;

    static QString Database() { return DbAccess->DatabasePath(); }

    // The file's modification time, put back after a change that must differ in one sign alone.
    static void SetModified(const QString& path, qint64 ns)
    {
        const timespec times[2] = {{0, UTIME_OMIT}, {time_t(ns / 1000000000), long(ns % 1000000000)}};
        QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    }

    static void Overwrite(const QString& path, qint64 at, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(at));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    // A start of the program on the same folder: a new connection.
    static bool NextStartDefersCheck()
    {
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        return DbAccess->CheckDeferred();
    }

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    void startChecksUnlessLeftAsRecorded_data()
    {
        QTest::addColumn<QString>("between");
        QTest::addColumn<bool>("deferred");
        QTest::newRow("nothing") << "" << true;
        QTest::newRow("a commit by another program") << "commit" << false;
        QTest::newRow("size alone") << "size" << false;
        QTest::newRow("modification time alone") << "mtime" << false;
        QTest::newRow("change counter alone") << "counter" << false;
        QTest::newRow("no record") << "forget" << false;
        QTest::newRow("another file of the same signs") << "replace" << false;
        QTest::newRow("a record in another format") << "garbage" << false;
        QTest::newRow("a crash after a trusted start") << "crash" << false;
        QTest::newRow("damage found while running") << "damage" << false;
    }

    void startChecksUnlessLeftAsRecorded()
    {
        QFETCH(QString, between);
        QFETCH(bool, deferred);
        DbAccess->VerifyIntact();
        if (between == "damage")
            DbAccess->TakeDamage("数据库文件已损坏：page 7");
        DbAccess->RecordCleanExit();
        const std::optional<TFileSigns> left = ReadFileSigns(Database());
        QVERIFY(left);
        const QString db = Database();
        if (between == "commit") {
            DbExecSQL("update SysSet set BackupDir='x'");
        } else if (between == "size") {
            QFile file(db);
            QVERIFY(file.open(QIODevice::Append));
            file.write(QByteArray(4096, '\0'));
            file.close();
            SetModified(db, left->ModifiedNs);
        } else if (between == "mtime") {
            SetModified(db, left->ModifiedNs + 1);
        } else if (between == "counter") {
            quint32 counter = qToBigEndian(left->ChangeCounter + 1);
            Overwrite(db, 24, QByteArray(reinterpret_cast<const char*>(&counter), 4));
            SetModified(db, left->ModifiedNs);
        } else if (between == "forget") {
            QVERIFY(QFile::remove(CleanExitPath(db)));
        } else if (between == "replace") {
            QVERIFY(QFile::copy(db, db + ".new"));
            QVERIFY(QFile::remove(db));
            QVERIFY(QFile::rename(db + ".new", db));
            SetModified(db, left->ModifiedNs);
        } else if (between == "garbage") {
            Overwrite(CleanExitPath(db), 0, "not a record");
        } else if (between == "crash") {
            QVERIFY(NextStartDefersCheck()); // consumes the record; no clean exit follows
        }
        if (between != "commit" && between != "crash" && between != "damage") {
            const std::optional<TFileSigns> now = ReadFileSigns(db);
            QVERIFY(now);
            QCOMPARE(*now == *left, between.isEmpty() || between == "forget" || between == "garbage");
        }
        QCOMPARE(NextStartDefersCheck(), deferred);
        // Used once: a crash from now on leaves nothing that looks valid.
        QVERIFY(!QFile::exists(CleanExitPath(db)));
    }

    // A restore puts other data into the file: signs recorded before are no longer its signs.
    void restoreForgetsTheRecord()
    {
        DbAccess->VerifyIntact();
        DbAccess->BackupTo(env->Path("copy.bat"));
        QVERIFY(RecordCleanExit(Database()));
        DbAccess->RestoreFrom(env->Path("copy.bat"));
        QVERIFY(!QFile::exists(CleanExitPath(Database())));
        QVERIFY(!DbAccess->CheckDeferred());
    }
};

JOTTEREL_STORE_TEST_MAIN(TestCleanExit)
#include "test_cleanexit.moc"
