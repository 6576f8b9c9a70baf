#include "app/SingleInstance.h"
#include "app/UntConfig.h"
#include "controls/BringToFront.h"
#include "data/MD.h"
#include "data/PassHash.h"
#include "data/UntPublic.h"
#include "support/TestMain.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

// A copy of the built program in a directory of its own: a portable copy, so
// its data directory (AppPath) is that directory.
class TProgramCopy
{
public:
    TProgramCopy() : Exe(Dir.filePath("jotterel")) { QFile::copy(JOTTEREL_EXE, Exe); }
    // The copies are killed, which leaves their sockets behind.
    ~TProgramCopy() { QLocalServer::removeServer(TSingleInstance::ServerName(Dir.path())); }

    QString Path(const QString& name) const { return Dir.filePath(name); }

    std::unique_ptr<QProcess> Start(const QStringList& arguments = {}) const
    {
        auto program = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_DATA_HOME", Dir.filePath("xdg-data"));
        program->setProcessEnvironment(environment);
        program->setWorkingDirectory(QDir::tempPath());
        program->start(Exe, arguments);
        return program;
    }

    // True once the program is past opening its database: its window comes next.
    bool WaitUntilRunning(const QProcess& program) const
    {
        return QTest::qWaitFor(
                   [&] {
                       return QFileInfo(Path("bookkeep.dat")).size() > 0 || program.state() == QProcess::NotRunning;
                   },
                   30000) &&
               program.state() == QProcess::Running;
    }

    qint64 LockHolder() const
    {
        qint64 pid = 0;
        QLockFile(Path("bookkeep.lock")).getLockInfo(&pid, nullptr, nullptr);
        return pid;
    }

    QTemporaryDir Dir;
    QString Exe;
};

// Whether a running instance listens for later starts on dataDir.
bool Listening(const QString& dataDir)
{
    QLocalSocket socket;
    socket.connectToServer(TSingleInstance::ServerName(dataDir));
    return socket.waitForConnected(100);
}

void Stop(QProcess& program)
{
    program.kill();
    program.waitForFinished();
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void serverNameFollowsTheDirectory_data()
    {
        QTest::addColumn<QString>("other");
        QTest::addColumn<bool>("same");
        QTest::newRow("trailing separator") << "%1/" << true;
        QTest::newRow("dot segment") << "%1/./" << true;
        QTest::newRow("symbolic link") << "link" << true;
        QTest::newRow("another directory") << "sibling" << false;
    }

    void serverNameFollowsTheDirectory()
    {
        QFETCH(QString, other);
        QFETCH(bool, same);
        QTemporaryDir root;
        const QString dir = root.filePath("data");
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QDir().mkpath(root.filePath("sibling")));
        QVERIFY(QFile::link(dir, root.filePath("link")));
        const QString spelled = other.contains("%1") ? other.arg(dir) : root.filePath(other);
        QCOMPARE(TSingleInstance::ServerName(spelled) == TSingleInstance::ServerName(dir), same);
    }

    void lockIsHeldForTheRunAndFreedAtTheEnd()
    {
        QTemporaryDir dir;
        {
            TSingleInstance first(dir.path());
            QCOMPARE(first.Start(), TSingleInstance::TStart::Run);
            qint64 pid = 0;
            QVERIFY(QLockFile(first.LockPath()).getLockInfo(&pid, nullptr, nullptr));
            QCOMPARE(pid, QCoreApplication::applicationPid());
            // Kept out while it runs: another start, and a program locking the file with QLockFile.
            TSingleInstance second(dir.path());
            QCOMPARE(second.Start(300), TSingleInstance::TStart::NoAnswer);
            QVERIFY(!QLockFile(first.LockPath()).tryLock(0));
        }
        QVERIFY(!QFileInfo::exists(TSingleInstance::LockFileName(dir.path())));
        TSingleInstance next(dir.path());
        QCOMPARE(next.Start(), TSingleInstance::TStart::Run);
    }

    // A lock file that is a link is not written through: its target stays as it was.
    void lockFileThatIsALinkLeavesItsTargetAlone()
    {
        QTemporaryDir dir;
        QFile target(dir.filePath("notes.txt"));
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write("precious\n");
        target.close();
        QVERIFY(QFile::link(target.fileName(), TSingleInstance::LockFileName(dir.path())));
        {
            TSingleInstance start(dir.path());
            start.Start(300);
        }
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("precious\n"));
    }

    // A live holder that does not answer: no socket at all, or a socket whose
    // owner never replies (busy or hung).
    void heldLockWithoutAnswerKeepsAway_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("no socket") << false;
        QTest::newRow("silent socket") << true;
    }

    void heldLockWithoutAnswerKeepsAway()
    {
        QFETCH(bool, listening);
        QTemporaryDir dir;
        QLockFile held(TSingleInstance::LockFileName(dir.path()));
        QVERIFY(held.tryLock(0));
        QLocalServer silent;
        if (listening) {
            QLocalServer::removeServer(TSingleInstance::ServerName(dir.path()));
            QVERIFY(silent.listen(TSingleInstance::ServerName(dir.path())));
        }
        TSingleInstance second(dir.path());
        QCOMPARE(second.Start(300), TSingleInstance::TStart::NoAnswer);
        QVERIFY(second.FailureText().contains(QString::number(QCoreApplication::applicationPid())));
        // The lock ends with its holder: deleting it by hand is never the way.
        QVERIFY(!second.FailureText().contains("删除"));
        QVERIFY(held.isLocked());
    }

    // The directory stays held whatever becomes of the lock file's name or of
    // the data file (another file put in its place): neither a
    // second start nor a command of the command line gets in.
    void secondCopyKeptOutWhateverBecomesOfTheLockFile_data()
    {
        QTest::addColumn<bool>("renamed");
        QTest::addColumn<bool>("dataReplaced");
        QTest::newRow("lock file deleted") << false << false;
        QTest::newRow("lock file renamed") << true << false;
        QTest::newRow("deleted, data file replaced") << false << true;
    }

    void secondCopyKeptOutWhateverBecomesOfTheLockFile()
    {
        QFETCH(bool, renamed);
        QFETCH(bool, dataReplaced);
        QTemporaryDir dir;
        const auto write = [&dir](const QString& name) {
            QFile file(dir.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write("data") == 4;
        };
        QVERIFY(write("bookkeep.dat"));
        TSingleInstance first(dir.path());
        QCOMPARE(first.Start(), TSingleInstance::TStart::Run);
        if (renamed)
            QVERIFY(QFile::rename(first.LockPath(), dir.filePath("bookkeep.lock.old")));
        else
            QVERIFY(QFile::remove(first.LockPath()));
        if (dataReplaced) {
            QVERIFY(write("restored.dat"));
            QVERIFY(std::rename(QFile::encodeName(dir.filePath("restored.dat")).constData(),
                                QFile::encodeName(dir.filePath("bookkeep.dat")).constData()) == 0);
        }

        TSingleInstance second(dir.path());
        QCOMPARE(second.Start(300), TSingleInstance::TStart::NoAnswer);
        QVERIFY(!second.FailureText().contains("删除"));
        TSingleInstance command(dir.path());
        QVERIFY(!command.Claim());
        QVERIFY(command.FailureText().contains(QDir::toNativeSeparators(dir.path())));
    }

    // Two folders whose data files are one file (a symbolic link or a hard
    // link to it): the second start and a command of the command line meet
    // the first's lock on the file itself, and say which file it is.
    void sameDataFileFromAnotherFolderIsKeptOut_data()
    {
        QTest::addColumn<bool>("symbolic");
        QTest::newRow("symbolic link") << true;
        QTest::newRow("hard link") << false;
    }

    void sameDataFileFromAnotherFolderIsKeptOut()
    {
        QFETCH(bool, symbolic);
        QTemporaryDir first;
        QTemporaryDir second;
        QFile data(first.filePath("bookkeep.dat"));
        QVERIFY(data.open(QIODevice::WriteOnly) && data.write("data") == 4);
        data.close();
        const QString other = second.filePath("bookkeep.dat");
        QVERIFY(symbolic ? QFile::link(data.fileName(), other)
                         : ::link(QFile::encodeName(data.fileName()).constData(),
                                  QFile::encodeName(other).constData()) == 0);
        QCOMPARE(TSingleInstance::ServerName(second.path()), TSingleInstance::ServerName(first.path()));
        TSingleInstance running(first.path());
        QCOMPARE(running.Start(), TSingleInstance::TStart::Run);
        TSingleInstance later(second.path());
        QCOMPARE(later.Start(300), TSingleInstance::TStart::NoAnswer);
        QVERIFY2(later.FailureText().contains("同一个数据文件"), qPrintable(later.FailureText()));
        TSingleInstance command(second.path());
        QVERIFY(!command.Claim());
        QVERIFY(command.FailureText().contains(QDir::toNativeSeparators(other)));
    }

    // The data directory renamed under a running copy: a start in the
    // renamed directory says so, naming both paths, instead of "没有响应".
    void renamedDirectoryIsSaid()
    {
        QTemporaryDir root;
        const QString before = root.filePath("data");
        const QString after = root.filePath("moved");
        QVERIFY(QDir().mkpath(before));
        TSingleInstance running(before);
        QCOMPARE(running.Start(), TSingleInstance::TStart::Run);
        QVERIFY(QDir().rename(before, after));
        TSingleInstance later(after);
        QCOMPARE(later.Start(300), TSingleInstance::TStart::NoAnswer);
        QVERIFY2(later.FailureText().contains("被改名或移动了"), qPrintable(later.FailureText()));
        QVERIFY(later.FailureText().contains(before));
        QVERIFY(later.FailureText().contains(QString::number(QCoreApplication::applicationPid())));
        TSingleInstance command(after);
        QVERIFY(!command.Claim());
        QVERIFY(command.FailureText().contains("被改名或移动了"));
    }

    void bringToFrontRestoresTheWindowAsItWas_data()
    {
        QTest::addColumn<bool>("visible");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("maximized");
        QTest::newRow("hidden in the tray") << false << int(Qt::WindowNoState) << false;
        QTest::newRow("minimised") << true << int(Qt::WindowMinimized) << false;
        QTest::newRow("hidden after minimising") << false << int(Qt::WindowMinimized) << false;
        QTest::newRow("maximised, hidden") << false << int(Qt::WindowMaximized | Qt::WindowMinimized) << true;
        QTest::newRow("maximised, minimised") << true << int(Qt::WindowMaximized | Qt::WindowMinimized) << true;
    }

    void bringToFrontRestoresTheWindowAsItWas()
    {
        QFETCH(bool, visible);
        QFETCH(int, state);
        QFETCH(bool, maximized);
        QWidget window;
        window.setWindowState(Qt::WindowStates(state));
        window.setVisible(visible);
        BringToFront(&window);
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
        QCOMPARE(window.isMaximized(), maximized);
    }

    // The real program started a second time, with this test as the running
    // instance: it must hand over and end without opening the database.
    void secondStartOfTheProgramShowsTheRunningWindow()
    {
        TProgramCopy copy;
        TSingleInstance running(copy.Dir.path());
        QCOMPARE(running.Start(), TSingleInstance::TStart::Run);
        QWidget window;
        connect(&running, &TSingleInstance::ShowRequested, &window, [&window] { BringToFront(&window); });
        QVERIFY(!window.isVisible());

        auto second = copy.Start();
        QVERIFY(second->waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(second->state(), QProcess::NotRunning, 30000);
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(window.isVisible());
        QVERIFY(!QFileInfo::exists(copy.Path("bookkeep.dat")));
    }

    // `--toggle` and `--search` handed to the running program (this test)
    // end as it answers: 0 when done, else 1 with its reason.
    void handedOverWindowCommandEndsAsTheRunningOneAnswers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("done") << QStringList{"--search", "会议"} << 0 << "";
        QTest::newRow("failed") << QStringList{"--toggle"} << 1 << "窗口正忙。";
        QTest::newRow("not ready (at the login)") << QStringList{"--toggle"} << 1 << "还没有准备好";
    }

    void handedOverWindowCommandEndsAsTheRunningOneAnswers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        TProgramCopy copy;
        TSingleInstance running(copy.Dir.path());
        QCOMPARE(running.Start(), TSingleInstance::TStart::Run);
        QStringList asked;
        RunningCommands()["search"] = [&](const QStringList& words) {
            asked = words;
            return TRunningAnswer{true, QString()};
        };
        if (!QString(QTest::currentDataTag()).startsWith("not ready"))
            RunningCommands()["toggle"] = [](const QStringList&) { return TRunningAnswer{false, "窗口正忙。"}; };
        auto second = copy.Start(arguments);
        QTRY_COMPARE_WITH_TIMEOUT(second->state(), QProcess::NotRunning, 30000);
        RunningCommands().clear();
        QCOMPARE(second->exitCode(), status);
        const QString error = QString::fromUtf8(second->readAllStandardError());
        QVERIFY2(said.isEmpty() ? error.isEmpty() : error.contains(said), qPrintable(error));
        if (status == 0)
            QCOMPARE(asked, QStringList{"会议"});
        QVERIFY(!QFileInfo::exists(copy.Path("bookkeep.dat")));
    }

    // A command of the command line: the first verb its arguments name reads
    // them all (--help comes before the import and export only); with a
    // program running on the data, a running command of it is handed over
    // with its arguments and ends as it answers.
    void commandLineRunsHereOrIsHandedOver_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // on the standard output for 0, else the standard error
        QTest::newRow("help before an export")
            << QStringList{"--export-notes-md", "x.md", "--help"} << false << 0 << "用法：jotterel [选项]";
        QTest::newRow("sync reads a help")
            << QStringList{"--sync-now", "--help"} << false << 1 << "用法：jotterel --sync-folder";
        QTest::newRow("handed over") << QStringList{"--agenda", "3"} << true << 0 << "明天 9:00 开会";
        QTest::newRow("handed over, failed") << QStringList{"--note", "买牛奶"} << true << 1 << "分组不存在";
    }
    void commandLineRunsHereOrIsHandedOver()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, running);
        QFETCH(int, status);
        QFETCH(QString, said);
        TProgramCopy copy;
        TSingleInstance program(copy.Dir.path());
        if (running)
            QCOMPARE(program.Start(), TSingleInstance::TStart::Run);
        QStringList asked;
        RunningCommands()["agenda"] = [&asked](const QStringList& days) {
            asked = days;
            return TRunningAnswer{true, "明天 9:00 开会"};
        };
        RunningCommands()["note"] = [](const QStringList&) { return TRunningAnswer{false, "分组不存在"}; };
        auto command = copy.Start(arguments);
        QTRY_COMPARE_WITH_TIMEOUT(command->state(), QProcess::NotRunning, 30000);
        RunningCommands().clear();
        QCOMPARE(command->exitCode(), status);
        const QString output =
            QString::fromUtf8(status == 0 ? command->readAllStandardOutput() : command->readAllStandardError());
        QVERIFY2(output.contains(said), qPrintable(output));
        QCOMPARE(asked, status == 0 && running ? QStringList{"3"} : QStringList());
    }

    // Two real processes. An old lock file must not let the second take over
    // from a first that has simply been running for a long time.
    void secondProcessHandsOverToTheFirst_data()
    {
        QTest::addColumn<int>("lockAgeDays");
        QTest::newRow("just started") << 0;
        QTest::newRow("running for days") << 3;
    }

    void secondProcessHandsOverToTheFirst()
    {
        QFETCH(int, lockAgeDays);
        TProgramCopy copy;
        auto first = copy.Start();
        QVERIFY(copy.WaitUntilRunning(*first));
        if (lockAgeDays) {
            QFile lock(copy.Path("bookkeep.lock"));
            QVERIFY(lock.open(QIODevice::ReadWrite));
            QVERIFY(lock.setFileTime(QDateTime::currentDateTimeUtc().addDays(-lockAgeDays),
                                     QFileDevice::FileModificationTime));
        }

        auto second = copy.Start();
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(second->readAllStandardError(), QByteArray());
        QCOMPARE(first->state(), QProcess::Running);
        QCOMPARE(copy.LockHolder(), first->processId());
        Stop(*first);
    }

    // A copy waiting at its login answers a later start, which brings its
    // login dialog to the front and ends without opening the database.
    void copyAtTheLoginAnswersALaterStart()
    {
        TProgramCopy copy;
        SetAppPath(copy.Dir.path());
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        TConfig config;
        config.bPass = true;
        SetNewPasswordIterations(1000);
        config.PassWord = HashPassword("pw");
        config.SaveConfig();
        delete DbAccess;
        DbAccess = nullptr;

        auto first = copy.Start();
        // Nothing gets it past the login, where it must listen.
        QTRY_VERIFY_WITH_TIMEOUT(Listening(copy.Dir.path()) || first->state() == QProcess::NotRunning, 30000);
        QCOMPARE(first->state(), QProcess::Running);
        auto second = copy.Start();
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->readAllStandardError(), QByteArray());
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);
        Stop(*first);
    }

    // A copy in another folder whose data file links to a running copy's
    // brings that one to the front instead of running beside it.
    void copyOnTheSameDataFileHandsOver()
    {
        TProgramCopy copy;
        auto first = copy.Start();
        QVERIFY(copy.WaitUntilRunning(*first));
        TProgramCopy elsewhere;
        QVERIFY(QFile::link(copy.Path("bookkeep.dat"), elsewhere.Path("bookkeep.dat")));
        auto second = elsewhere.Start();
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->readAllStandardError(), QByteArray());
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(!QFileInfo::exists(elsewhere.Path("bookkeep.lock")));
        Stop(*first);
    }

    // A shutdown's kill, a closed terminal or Ctrl+C ends the program as
    // 关闭 does: status 0, the clean exit recorded (the next start need not
    // read every page), the lock file gone.
    void endSignalsEndTheProgramCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void endSignalsEndTheProgramCleanly()
    {
        QFETCH(int, signal);
        TProgramCopy copy;
        auto program = copy.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Listening(copy.Dir.path()) || program->state() == QProcess::NotRunning, 30000);
        QVERIFY(::kill(pid_t(program->processId()), signal) == 0);
        QVERIFY(program->waitForFinished(30000));
        QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(program->exitCode(), 0);
        QVERIFY(QFileInfo::exists(copy.Path("bookkeep.dat.verified")));
        QVERIFY(!QFileInfo::exists(copy.Path("bookkeep.lock")));
    }

    void lockOfAKilledProcessDoesNotBlockTheNextStart()
    {
        TProgramCopy copy;
        auto first = copy.Start();
        QVERIFY(copy.WaitUntilRunning(*first));
        Stop(*first); // SIGKILL: no chance to clean up
        QVERIFY(QFileInfo::exists(copy.Path("bookkeep.lock")));
        QVERIFY(QFile::remove(copy.Path("bookkeep.dat")));
        // Killed in the middle of a restore: its copies go once the window stands.
        const QStringList leftovers{"bookkeep.dat.part", "bookkeep.dat.part.v3", "tmpData.bat.part"};
        for (const QString& name : leftovers) {
            QFile file(copy.Path(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        auto next = copy.Start();
        QVERIFY(copy.WaitUntilRunning(*next));
        QVERIFY(QFileInfo(copy.Path("bookkeep.dat")).size() > 0);
        QCOMPARE(copy.LockHolder(), next->processId());
        for (const QString& name : leftovers)
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(copy.Path(name)), 10000);

        // It also took over the socket the killed one left behind.
        auto third = copy.Start();
        QVERIFY(third->waitForFinished(30000));
        QCOMPARE(third->exitCode(), 0);
        QCOMPARE(next->state(), QProcess::Running);
        Stop(*next);
    }

    void programFacingAnUnansweringHolderLeavesTheDatabaseAlone()
    {
        TProgramCopy copy;
        QLockFile held(copy.Path("bookkeep.lock"));
        QVERIFY(held.tryLock(0));
        auto program = copy.Start();
        QVERIFY(program->waitForStarted());
        // It says why on stderr, then shows the same text in a box.
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += program->readAllStandardError()).contains("没有响应"), 30000);
        QVERIFY(said.contains(QString::number(QCoreApplication::applicationPid()).toUtf8()));
        QVERIFY(!QFileInfo::exists(copy.Path("bookkeep.dat")));
        Stop(*program);
    }
};

JOTTEREL_TEST_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
