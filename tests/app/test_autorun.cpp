#include "app/AutoRun.h"
#include "data/UException.h"
#include "support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// The start-with-the-desktop entry on XDG desktops. Every test works in a
// temporary configuration folder, never in the real home.
class TestAutoRun : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> home;

    QString Entry() const { return home->filePath("config/autostart/Jotterel.desktop"); }

    void WriteEntry(const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(Entry()).path());
        QFile file(Entry());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

private slots:
    void init()
    {
        home = std::make_unique<QTemporaryDir>();
        qputenv("HOME", home->path().toUtf8());
        qputenv("XDG_CONFIG_HOME", home->filePath("config").toUtf8());
    }
    void cleanup() { home.reset(); }

    void entryLivesInTheConfigFolder()
    {
        QCOMPARE(AutoRunEntryPath("Jotterel"), Entry());
        // Unset or relative, the folder is ~/.config.
        qputenv("XDG_CONFIG_HOME", "");
        QCOMPARE(AutoRunEntryPath("Jotterel"), home->filePath(".config/autostart/Jotterel.desktop"));
        qputenv("XDG_CONFIG_HOME", "relative/config");
        QCOMPARE(AutoRunEntryPath("Jotterel"), home->filePath(".config/autostart/Jotterel.desktop"));
    }

    void execValueQuotesWhatNeedsIt_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("value"); // as written in the file
        QTest::newRow("plain") << "/usr/bin/jotterel"
                               << "/usr/bin/jotterel";
        QTest::newRow("blank") << "/opt/My Apps/jotterel"
                               << "\"/opt/My Apps/jotterel\"";
        QTest::newRow("dollar and backtick") << "/opt/$x`y`/j"
                                             << "\"/opt/\\\\$x\\\\`y\\\\`/j\"";
        QTest::newRow("double quote") << "/opt/a\"b/j"
                                      << "\"/opt/a\\\\\"b/j\"";
        QTest::newRow("backslash takes four") << "/opt/a\\b/j"
                                              << "\"/opt/a\\\\\\\\b/j\"";
        QTest::newRow("single quote") << "/opt/it's/j"
                                      << "\"/opt/it's/j\"";
        QTest::newRow("percent") << "/opt/100%/j"
                                 << "/opt/100%%/j";
        QTest::newRow("percent with blank") << "/opt/100 %/j"
                                            << "\"/opt/100 %%/j\"";
        QTest::newRow("chinese") << "/opt/记事本/jotterel"
                                 << "/opt/记事本/jotterel";
    }

    void execValueQuotesWhatNeedsIt()
    {
        QFETCH(QString, path);
        QFETCH(QString, value);
        QCOMPARE(DesktopExecValue(path), value);
        // Read back, the value names the same one program.
        QCOMPARE(DesktopExecArguments(value), QStringList(path));
    }

    void execArgumentsAreSplitAsTheDesktopDoes_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("two arguments") << "/usr/bin/j --hidden" << QStringList{"/usr/bin/j", "--hidden"};
        QTest::newRow("quoted blank") << "\"/a b/j\" x" << QStringList{"/a b/j", "x"};
        QTest::newRow("string-escaped blank still separates") << "/a\\sb/j" << QStringList{"/a", "b/j"};
        QTest::newRow("extra blanks") << "  /usr/bin/j  " << QStringList{"/usr/bin/j"};
        QTest::newRow("unterminated quote") << "\"/a b/j" << QStringList();
    }

    void execArgumentsAreSplitAsTheDesktopDoes()
    {
        QFETCH(QString, value);
        QFETCH(QStringList, arguments);
        QCOMPARE(DesktopExecArguments(value), arguments);
    }

    void switchingOnAndOff()
    {
        const QString exe = "/opt/My Apps/jotterel";
        QVERIFY(!AutoRunStarts("Jotterel", exe));
        SetAutoRun("Jotterel", exe, true);
        QVERIFY(AutoRunStarts("Jotterel", exe));
        QFile file(Entry());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        file.close();
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nType=Application\n"));
        QVERIFY(text.contains("\nName=Jotterel\n"));
        QVERIFY(text.contains("\nExec=\"/opt/My Apps/jotterel\"\n"));
        // Nothing but the entry is left in the folder.
        QCOMPARE(QDir(QFileInfo(Entry()).path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"Jotterel.desktop"});

        SetAutoRun("Jotterel", exe, true); // again: still one entry, still on
        QVERIFY(AutoRunStarts("Jotterel", exe));
        SetAutoRun("Jotterel", exe, false);
        QVERIFY(!QFile::exists(Entry()));
        QVERIFY(!AutoRunStarts("Jotterel", exe));
        SetAutoRun("Jotterel", exe, false); // a missing entry is no error
    }

    void onlyAnEntryForExactlyThisProgramReadsAsOn_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("on");
        const QByteArray head = "[Desktop Entry]\nType=Application\nName=Jotterel\n";
        QTest::newRow("this program") << head + "Exec=/opt/j/jotterel\n" << true;
        QTest::newRow("quoted needlessly") << head + "Exec=\"/opt/j/jotterel\"\n" << true;
        QTest::newRow("another folder") << head + "Exec=/usr/bin/jotterel\n" << false;
        QTest::newRow("other letter case") << head + "Exec=/opt/j/Jotterel\n" << false;
        QTest::newRow("single quotes") << head + "Exec='/opt/j/jotterel'\n" << false;
        QTest::newRow("with an argument") << head + "Exec=/opt/j/jotterel --x\n" << false;
        QTest::newRow("hidden") << head + "Exec=/opt/j/jotterel\nHidden=true\n" << false;
        QTest::newRow("switched off") << head + "Exec=/opt/j/jotterel\nX-GNOME-Autostart-enabled=false\n" << false;
        QTest::newRow("in another group") << "[Other]\nExec=/opt/j/jotterel\n" + head << false;
        QTest::newRow("no exec") << head << false;
        QTest::newRow("not an entry") << QByteArray("\x01\x02garbage") << false;
    }

    void onlyAnEntryForExactlyThisProgramReadsAsOn()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, on);
        WriteEntry(entry);
        QCOMPARE(AutoRunStarts("Jotterel", "/opt/j/jotterel"), on);
    }

    void failuresSayWhy()
    {
        // A file where the autostart folder belongs: the entry cannot be written.
        QDir().mkpath(home->filePath("config"));
        QFile blocker(home->filePath("config/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        try {
            SetAutoRun("Jotterel", "/opt/j/jotterel", true);
            QFAIL("the entry was written");
        } catch (const EError& e) {
            QVERIFY2(e.Message().contains(home->filePath("config/autostart")), qPrintable(e.Message()));
        }
        QVERIFY(!AutoRunStarts("Jotterel", "/opt/j/jotterel"));

        // A folder where the entry belongs: it can be neither written nor removed.
        QVERIFY(blocker.remove());
        QVERIFY(QDir().mkpath(Entry() + "/inside"));
        QVERIFY_THROWS_EXCEPTION(EError, SetAutoRun("Jotterel", "/opt/j/jotterel", true));
        QVERIFY_THROWS_EXCEPTION(EError, SetAutoRun("Jotterel", "/opt/j/jotterel", false));
        QVERIFY(QFileInfo(Entry()).isDir());
    }
};

JOTTEREL_TEST_MAIN(TestAutoRun)
#include "test_autorun.moc"
