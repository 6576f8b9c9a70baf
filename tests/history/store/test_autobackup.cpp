#include "data/MD.h"
#include "data/SqliteDb.h"
#include "history/AutoBackup.h"
#include "support/StoreTest.h"

#include <QDir>
#include <QFile>
#include <memory>

class TestAutoBackup : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

    static QList<QDate> Days(const QDate& first, const QDate& last)
    {
        QList<QDate> days;
        for (QDate day = first; day <= last; day = day.addDays(1))
            days << day;
        return days;
    }

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    void keptDays_data()
    {
        QTest::addColumn<QList<QDate>>("days");
        QTest::addColumn<QList<QDate>>("kept");
        const QDate today(2026, 12, 9); // a Wednesday
        QList<QDate> everyDay = Days(today.addDays(-6), today);
        everyDay << QDate(2026, 11, 29) << QDate(2026, 11, 22) << QDate(2026, 11, 30); // weeks 48, 47; November
        for (int month = 10; month >= 1; --month)
            everyDay << QDate(2026, month, 1).addMonths(1).addDays(-1);
        QTest::newRow("two years of daily backups") << Days(QDate(2025, 1, 1), today) << everyDay;
        const QList<QDate> few = {QDate(2024, 3, 1), QDate(2026, 1, 5), today};
        QTest::newRow("a few, far apart") << few << few;
    }
    void keptDays()
    {
        QFETCH(QList<QDate>, days);
        QFETCH(QList<QDate>, kept);
        std::sort(kept.begin(), kept.end(), std::greater<QDate>());
        QCOMPARE(KeptBackupDays(days), kept);
    }

    // A copy of a database in WAL mode holds the rows still in its -wal
    // file; it is the owner's alone, and thinning touches backups only.
    void writeListAndPrune()
    {
        sqlite3* db = DbAccess->Handle();
        ExecNative(db, "PRAGMA journal_mode=WAL");
        ExecNative(db, "insert into IE(TypeID,IEUrl,IEName,ReMark) values (0,'https://a.example','a','')");
        const TAutoBackups backups(env->Path("backups"));
        const QDate today(2026, 12, 9);
        QVERIFY(backups.Due(today));
        const QString written = backups.Write(db, today);
        QCOMPARE(QFileInfo(written).fileName(), QString("bookkeep-2026-12-09.bat"));
        QCOMPARE(QFile::permissions(written) & 0x0777, QFile::ReadUser | QFile::WriteUser); // group and others none
        QCOMPARE(ReadBackupContents(written).Bookmarks, 1);
        QVERIFY(!backups.Due(today));
        QVERIFY(backups.Due(today.addDays(1)));

        for (int age = 1; age <= 8; ++age)
            QVERIFY(QFile::copy(written, env->Path("backups/" + AutoBackupFileName(today.addDays(-age)))));
        QFile other(env->Path("backups/bookkeep-notes.bat"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        // Days 7 and 8 back: not among the newest 7, and their week and
        // month have newer ones.
        QCOMPARE(backups.Prune(), QStringList({env->Path("backups/bookkeep-2026-12-02.bat"),
                                               env->Path("backups/bookkeep-2026-12-01.bat")}));
        QCOMPARE(backups.List().size(), 7);
        QVERIFY(other.exists());
    }

    // The chosen folder is kept; choosing the default again follows the
    // data file wherever it goes.
    void folderSetting()
    {
        QCOMPARE(AutoBackupFolder(), DefaultAutoBackupFolder());
        SaveAutoBackupFolder(env->Path("elsewhere"));
        QCOMPARE(AutoBackupFolder(), env->Path("elsewhere"));
        SaveAutoBackupFolder(DefaultAutoBackupFolder());
        QCOMPARE(DbGetIntValue("select count(*) from SysSet where BackupDir=''"), 1);
    }

    // A backup that cannot be completed leaves nothing behind, and what a
    // backup killed in the middle left (its part, SQLite's journal of it) is
    // gone with the next one: a stale journal must not meet a new part.
    void failedWriteLeavesNothing_data()
    {
        QTest::addColumn<bool>("killedBefore");
        QTest::newRow("its name taken by a folder") << false;
        QTest::newRow("after backups killed in the middle") << true;
    }
    void failedWriteLeavesNothing()
    {
        QFETCH(bool, killedBefore);
        const TAutoBackups backups(env->Path("backups"));
        const QDate today(2026, 12, 9);
        QVERIFY(QDir().mkpath(env->Path("backups")));
        if (killedBefore) {
            for (const QString& name :
                 {AutoBackupFileName(today) + ".part-journal", AutoBackupFileName(today.addDays(-1)) + ".part",
                  AutoBackupFileName(today.addDays(-1)) + ".part-journal"}) {
                QFile left(env->Path("backups/" + name));
                QVERIFY(left.open(QIODevice::WriteOnly));
                left.write(QByteArray(4096, 'j'));
            }
            QCOMPARE(QFileInfo(backups.Write(DbAccess->Handle(), today)).fileName(), AutoBackupFileName(today));
            QCOMPARE(QDir(env->Path("backups")).entryList(QDir::Files), QStringList{AutoBackupFileName(today)});
            return;
        }
        QVERIFY(QDir().mkpath(env->Path("backups/" + AutoBackupFileName(today) + "/x")));
        QVERIFY(ErrorOf([&] { backups.Write(DbAccess->Handle(), today); }).startsWith("自动备份失败"));
        QCOMPARE(QDir(env->Path("backups")).entryList(QDir::Files), QStringList());
    }

    // A backup that fails because the data file itself is damaged says so as
    // damage of the data (which the program then reports as a damaged file),
    // not as a failure of the backup alone.
    void damageOfTheDataToldApart_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("the backup folder takes no file") << false;
        QTest::newRow("a page of the data file damaged") << true;
    }
    void damageOfTheDataToldApart()
    {
        QFETCH(bool, damaged);
        const QString database = DbAccess->DatabasePath();
        const QDate today(2026, 12, 9);
        DbAccess->CloseConnection();
        if (damaged) {
            QFile file(database);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray header = file.read(18);
            const int stored = quint8(header[16]) << 8 | quint8(header[17]);
            const int pageSize = stored == 1 ? 65536 : stored; // 1 stands for 65536
            QVERIFY(file.seek(pageSize));                      // the second page: a table's root, not the schema
            file.write(QByteArray(8, char(0xFF)));
        } else {
            QVERIFY(QDir().mkpath(env->Path("backups/" + AutoBackupFileName(today) + "/x")));
        }
        QString caught;
        try {
            RunAutoBackup(database, env->Path("backups"), today);
        } catch (const ELiveFileDamaged& e) {
            caught = "damage: " + e.Message();
        } catch (const EError& e) {
            caught = "backup: " + e.Message();
        }
        QVERIFY2(caught.startsWith(damaged ? "damage: 数据库文件已损坏" : "backup: 自动备份失败"), qPrintable(caught));
    }
};

JOTTEREL_STORE_TEST_MAIN(TestAutoBackup)
#include "test_autobackup.moc"
