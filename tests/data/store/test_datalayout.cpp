#include "data/UntPublic.h"
#include "support/StoreTest.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

// Where the data goes for the layouts the program is found in: an unpacked
// copy, and a program installed under a prefix (writable here, as /usr/bin is
// for root or ~/.local/bin for its user).
class TestDataLayout : public QObject
{
    Q_OBJECT
    QTemporaryDir home;

    static void Touch(const QString& path)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", home.path().toUtf8()); }

    void dataDirectoryFollowsTheLayout_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("besideProgram");
        QTest::newRow("unpacked copy with its home page") << QStringList{"bin/home.html"} << true;
        QTest::newRow("installed under a prefix") << QStringList{"share/jotterel/home.html"} << false;
        QTest::newRow("installed, data already beside it")
            << QStringList{"share/jotterel/home.html", "bin/bookkeep.dat"} << true;
        QTest::newRow("home page of another program") << QStringList{"share/other/home.html"} << true;
    }

    void dataDirectoryFollowsTheLayout()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, besideProgram);
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath("bin"));
        for (const QString& file : files)
            Touch(prefix.filePath(file));
        const QString chosen = ChooseDataDirectory(prefix.filePath("bin"));
        if (besideProgram) {
            QCOMPARE(chosen, prefix.filePath("bin") + "/");
        } else {
            QCOMPARE(chosen, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/");
            QVERIFY(chosen.startsWith(home.path() + "/"));
            QVERIFY(QFileInfo(chosen).isDir());
        }
    }
};

JOTTEREL_STORE_TEST_MAIN(TestDataLayout)
#include "test_datalayout.moc"
