#include "data/UntPublic.h"
#include "support/StoreTest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

class TestAppPath : public QObject
{
    Q_OBJECT
    QTemporaryDir home;

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", home.path().toUtf8()); }

    void portableCopyKeepsItsDataBesideItself()
    {
        QTemporaryDir dir;
        QCOMPARE(ChooseDataDirectory(dir.path()), dir.path() + "/");
    }

    void installedProgramUsesThePerUserDirectory()
    {
        const QString readOnly = "/proc/sys";
        if (QFileInfo(readOnly).isWritable())
            QSKIP("no directory here is closed to writing");
        const QString chosen = ChooseDataDirectory(readOnly);
        QVERIFY(chosen.startsWith(home.path()));
        QVERIFY(QFileInfo(chosen).isDir());
    }

    void aCopyOfTheProgramCreatesItsDatabaseBesideItself()
    {
        QTemporaryDir dir;
        const QString copy = dir.filePath("jotterel");
        QVERIFY(QFile::copy(JOTTEREL_EXE, copy));
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(QDir::tempPath());
        program.start(copy, {});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("bookkeep.dat")).size() > 0, 20000);
        program.kill();
        program.waitForFinished();
    }
};

JOTTEREL_STORE_TEST_MAIN(TestAppPath)
#include "test_apppath.moc"
