#include "app/UntConfig.h"
#include "data/MD.h"
#include "data/Schema.h"
#include "data/SqliteDb.h"
#include "support/StoreTest.h"

#include <QFile>
#include <memory>
#include <sqlite3.h>

// The login's wrong tries as the data file keeps them: what the next start
// finds, and the wait that follows from it.
class TestPasswordTries : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;
    const QDateTime now{QDate(2024, 5, 1), QTime(9, 0)};

    // As the next start does: a new connection to the same file.
    static void Reopen()
    {
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
    }

    static qint64 WaitMsecs(const TPasswordTries& tries, const QDateTime& at)
    {
        const QDateTime next = tries.NextTryAt(at);
        return next.isValid() ? qMax<qint64>(0, at.msecsTo(next)) : 0;
    }

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    void waitHoldsAcrossARestart_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("agoMsecs"); // the last wrong try before now; negative: after now
        QTest::addColumn<int>("waitMsecs");
        QTest::newRow("four wrong: no wait yet") << 4 << 0 << 0;
        QTest::newRow("fifth wrong just now") << 5 << 0 << 5000;
        QTest::newRow("seventh wrong 3 s ago") << 7 << 3000 << 2000;
        QTest::newRow("wait over") << 5 << 5000 << 0;
        // Not a lockout until the clock gets back there.
        QTest::newRow("clock turned back an hour") << 9 << -3600 * 1000 << 0;
    }

    void waitHoldsAcrossARestart()
    {
        QFETCH(int, count);
        QFETCH(int, agoMsecs);
        QFETCH(int, waitMsecs);
        TConfig().SavePasswordTries({count, now.addMSecs(-agoMsecs)});
        Reopen();
        const TPasswordTries kept = TConfig().LoadPasswordTries();
        QCOMPARE(kept.Count, count);
        QCOMPARE(kept.Last, now.addMSecs(-agoMsecs));
        QCOMPARE(WaitMsecs(kept, now), qint64(waitMsecs));
    }

    // A file from before the count opens upgraded: no wrong try yet, and
    // the password as it was.
    void olderFileStartsWithoutWrongTries()
    {
        delete DbAccess;
        DbAccess = nullptr;
        const QString path = env->Path("bookkeep.dat");
        QVERIFY(QFile::remove(path));
        {
            sqlite3* raw = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &raw), SQLITE_OK);
            TDbHandle db(raw);
            ExecNative(raw, DatabaseSchema());
            ExecNative(raw, "UPDATE SysSet SET bPass=-1, PassWord='secret'");
        }
        Reopen();
        QCOMPARE(SchemaVersion(DbAccess->Handle()), CurrentSchemaVersion());
        TConfig config;
        config.LoadConfig();
        QCOMPARE(config.bPass, true);
        QCOMPARE(config.PassWord, QString("secret"));
        const TPasswordTries tries = config.LoadPasswordTries();
        QCOMPARE(tries.Count, 0);
        QVERIFY(!tries.Last.isValid());
    }
};

JOTTEREL_STORE_TEST_MAIN(TestPasswordTries)
#include "test_passwordtries.moc"
