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

    // Puts the modification time back after a change that must differ in one sign alone.
    static void SetModified(const QString& path, qint64 ns)
    {
        const timespec times[2] = {{0, UTIME_OMIT}, {time_t(ns / 1000000000), long(ns % 1000000000)}};
        QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    }

    // A start of the program on the same folder.
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
        QTest::newRow("a crash after a trusted start") << "crash" << false;
        QTest::newRow("damage found while running") << "damage" << false;
    }
    void startChecksUnlessLeftAsRecorded()
    {
        QFETCH(QString, between);
        QFETCH(bool, deferred);
        const QString db = DbAccess->DatabasePath();
        DbAccess->VerifyIntact();
        if (between == "damage")
            DbAccess->TakeDamage("数据库文件已损坏：page 7");
        DbAccess->RecordCleanExit();
        const std::optional<TFileSigns> left = ReadFileSigns(db);
        QVERIFY(left);
        QFile file(db);
        if (between == "commit") {
            DbExecSQL("update SysSet set BackupDir='x'");
        } else if (between == "size" || between == "counter") {
            const quint32 counter = qToBigEndian(left->ChangeCounter + 1);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(between == "size" ? file.size() : 24));
            file.write(between == "size" ? QByteArray(4096, '\0') : QByteArray::fromRawData((const char*)&counter, 4));
            file.close();
            SetModified(db, left->ModifiedNs);
        } else if (between == "mtime") {
            SetModified(db, left->ModifiedNs + 1);
        } else if (between == "forget") {
            QVERIFY(QFile::remove(CleanExitPath(db)));
        } else if (between == "replace") {
            QVERIFY(QFile::copy(db, db + ".new") && QFile::remove(db) && QFile::rename(db + ".new", db));
            SetModified(db, left->ModifiedNs);
        } else if (between == "crash") {
            QVERIFY(NextStartDefersCheck()); // takes the record; no clean exit follows
        }
        QCOMPARE(NextStartDefersCheck(), deferred);
        // Used once: a crash from now on leaves nothing that looks valid.
        QVERIFY(!QFile::exists(CleanExitPath(db)));
    }
};

JOTTEREL_STORE_TEST_MAIN(TestCleanExit)
#include "test_cleanexit.moc"
