#include "app/SingleInstance.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "notes/UntNote.h"
#include "support/PageFixture.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"
#include "sync/Sync.h"
#include "sync/SyncCommandLine.h"
#include "sync/SyncFolder.h"
#include "sync/SyncSettings.h"
#include "sync/SyncWiring.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

Q_DECLARE_METATYPE(TSyncCommand::TKind)

// The 同步 dialog, the wiring that shows a round's changes on the pages in
// place, and the command line's sync options.
class TestSyncSettings : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    std::unique_ptr<TPageFixture> form;
    QSystemTrayIcon* tray = nullptr;
    QPlainTextEdit* memo = nullptr;
    QTreeWidget* tree = nullptr;
    TSyncWiring* sync = nullptr; // a child of the pages

    // The pages with the tray's icon and the sync's wiring over them.
    void OpenWindow()
    {
        form = std::make_unique<TPageFixture>();
        tray = new QSystemTrayIcon(form.get());
        sync = new TSyncWiring(TSyncParts{form.get(), nullptr, tray, *form->Notepad, *form->Bookmarks, *form->Reminders,
                                          form->NoteTree, form->IETree});
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        memo = Find<QPlainTextEdit>(form.get(), "mmoNote");
        tree = Find<QTreeWidget>(form.get(), "tvNote");
    }

    static QString StoredNote(int typeId)
    {
        const std::unique_ptr<TDataSet> row =
            DbAccess->Query(QString("select ReMark from NoteBook where TypeID=%1").arg(typeId));
        return row->Eof() ? QString() : row->AsString(0);
    }

    // Another computer's change, as a round writes it: straight into the file.
    static void StoreNote(int typeId, const QString& text)
    {
        DbExecSQL(QString("update NoteBook set ReMark='%1' where TypeID=%2").arg(text).arg(typeId));
    }

    static QString Lines(int count, const QString& changedLine = QString(), int changedAt = -1)
    {
        QStringList lines;
        for (int i = 0; i < count; ++i)
            lines << (i == changedAt ? changedLine : QString("第%1行").arg(i));
        return lines.join("\r\n");
    }

    void SelectGroup(const QString& label)
    {
        QTreeWidgetItem* node = FindNode(tree, label);
        QVERIFY(node);
        tree->setCurrentItem(node);
    }

    void Type(const QString& text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, memo, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        TSync::Stop();
    }
    void cleanup()
    {
        form.reset();
        sync = nullptr;
        TSync::Stop();
        env.reset();
    }

    // 开始同步 joins the folder typed, with the passphrase (none only when
    // 不加密 is chosen), and runs a first round; a folder the setup refuses
    // (a passphrase that does not open it), none typed, or no passphrase
    // without 不加密 is said in a box, and sync stays as it was.
    void startJoinsOrSaysWhyNot_data()
    {
        QTest::addColumn<QString>("joinedBefore"); // passphrase the folder was made with; "-": not made
        QTest::addColumn<QString>("folder");       // relative to the test's folder; "" none
        QTest::addColumn<QString>("passphrase");
        QTest::addColumn<bool>("plain"); // 不加密 chosen
        QTest::addColumn<bool>("joins");
        QTest::newRow("new folder, plain") << "-"
                                           << "shared"
                                           << "" << true << true;
        QTest::newRow("new folder, passphrase") << "-"
                                                << "shared"
                                                << "密码" << false << true;
        QTest::newRow("new folder, no passphrase, not plain") << "-"
                                                              << "shared"
                                                              << "" << false << false;
        QTest::newRow("the folder's passphrase") << "密码"
                                                 << "shared"
                                                 << "密码" << false << true;
        QTest::newRow("another passphrase") << "密码"
                                            << "shared"
                                            << "别的" << false << false;
        QTest::newRow("no folder") << "-"
                                   << ""
                                   << "" << true << false;
    }
    void startJoinsOrSaysWhyNot()
    {
        QFETCH(QString, joinedBefore);
        QFETCH(QString, folder);
        QFETCH(QString, passphrase);
        QFETCH(bool, plain);
        QFETCH(bool, joins);
        const QString path = env->Path("shared");
        QVERIFY(QDir().mkpath(path));
        if (joinedBefore != "-") {
            TSync::Setup(path, joinedBefore);
            TSync::Stop();
        }
        TFormSyncSettings dialog(sync);
        auto* edtDir = Find<QLineEdit>(&dialog, "edtSyncDir");
        auto* edtPass = Find<QLineEdit>(&dialog, "edtSyncPass");
        auto* status = Find<QLabel>(&dialog, "lblSyncStatus");
        QCOMPARE(edtPass->echoMode(), QLineEdit::Password);
        QVERIFY(!Find<QCheckBox>(&dialog, "chkSyncPlain")->isChecked()); // a passphrase by default
        Find<QLineEdit>(&dialog, "edtSyncName")->setText("书房");
        edtDir->setText(folder.isEmpty() ? QString() : QDir::toNativeSeparators(env->Path(folder)));
        edtPass->setText(passphrase);
        Find<QCheckBox>(&dialog, "chkSyncPlain")->setChecked(plain);
        Find<QPushButton>(&dialog, "btnOK")->click();
        QCOMPARE(TSync::Status().Folder, joins ? path : QString());
        QCOMPARE(env->Responder.Shown.size(), joins ? 0 : 1);
        if (joins) {
            QCOMPARE(TSync::Status().Encrypted, !plain);
            QCOMPARE(TSync::Status().Name, QString("书房"));
            QVERIFY2(status->text().startsWith("上次同步："), qPrintable(status->text()));
            QCOMPARE(status->text().contains("能写入它的人都能改动这些数据"), plain);
            QVERIFY(edtPass->text().isEmpty());
            QVERIFY(Find<QPushButton>(&dialog, "btnSyncNow")->isEnabled());
        } else {
            QCOMPARE(env->Responder.Shown.first().kind, IDialogResponder::Kind::Error);
            QCOMPARE(status->text(), QString("同步未开启。"));
            QVERIFY(!Find<QPushButton>(&dialog, "btnStop")->isEnabled());
        }
    }

    // 更改同步密码 writes the folder anew with the new passphrase; another
    // computer, whose next round meets it, asks for it once, and with it goes
    // on as before. Not given, it is not asked again until the settings change.
    void changedPassphraseIsAskedForOnce_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<bool>("joins");
        QTest::newRow("the new passphrase") << "新密码" << true;
        QTest::newRow("none given") << "" << false;
    }
    void changedPassphraseIsAskedForOnce()
    {
        QFETCH(QString, given);
        QFETCH(bool, joins);
        const QString shared = env->Path("shared");
        QVERIFY(QDir().mkpath(shared));
        TSync::Setup(shared, "旧密码");
        TSync::Round();
        OpenWindow();
        TSyncFolder::Rekey(shared, "新密码"); // another computer changes it, as its dialog would
        int asked = 0;
        sync->AskPassphrase = [&] {
            ++asked;
            return given;
        };
        sync->SettingsChanged();
        auto* periodic = Find<QTimer>(form.get(), "syncPeriodic");
        periodic->start(10);
        QTRY_VERIFY(asked == 1);
        if (joins) {
            QTRY_VERIFY(sync->Failure().isEmpty() && TSync::Status().LastRound.isValid());
            QVERIFY(TSync::Status().Encrypted);
        } else {
            QTRY_COMPARE(env->Responder.Shown.size(), 1);
            QTest::qWait(200);
            QCOMPARE(asked, 1);
            QVERIFY(sync->Failure().contains("同步密码"));
        }
    }

    // 停止同步 asks first; No leaves sync on.
    void stopAsksFirst_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void stopAsksFirst()
    {
        QFETCH(bool, yes);
        const QString path = env->Path("shared");
        QVERIFY(QDir().mkpath(path));
        TSync::Setup(path, QString());
        TFormSyncSettings dialog(sync);
        QCOMPARE(Find<QLineEdit>(&dialog, "edtSyncDir")->text(), QDir::toNativeSeparators(path));
        env->Responder.Answers = {yes};
        Find<QPushButton>(&dialog, "btnStop")->click();
        QCOMPARE(env->Responder.Shown.size(), 1);
        QCOMPARE(env->Responder.Shown.first().kind, IDialogResponder::Kind::Question);
        QCOMPARE(TSync::Status().Folder.isEmpty(), yes);
        QCOMPARE(Find<QPushButton>(&dialog, "btnSyncNow")->isEnabled(), !yes);
    }

    // A note another computer changed is shown as stored with the caret on
    // the same characters and the view where it was, and is the base of the
    // next save: the next key saves over it instead of taking it for a
    // foreign write and keeping both texts below a separator.
    void syncedNoteKeepsCaretAndTakesTheNextKey_data()
    {
        QTest::addColumn<int>("caretLine");
        QTest::addColumn<int>("changedLine");
        QTest::addColumn<int>("linesAfter");
        QTest::addColumn<int>("shift"); // of the caret
        QTest::newRow("change above the caret") << 150 << 3 << 300 << 4;
        QTest::newRow("change at the caret: to the start of the change") << 150 << 150 << 300 << -2;
        QTest::newRow("shorter text than the caret") << 150 << 0 << 20 << 0;
    }
    void syncedNoteKeepsCaretAndTakesTheNextKey()
    {
        QFETCH(int, caretLine);
        QFETCH(int, changedLine);
        QFETCH(int, linesAfter);
        QFETCH(int, shift);
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (0,'" + Lines(300) + "')");
        OpenWindow();
        QTextCursor caret(memo->document()->findBlockByNumber(caretLine));
        caret.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 2);
        memo->setTextCursor(caret);
        memo->verticalScrollBar()->setValue(caretLine - 5);
        const int position = caret.position();
        const int top = memo->verticalScrollBar()->value();
        QVERIFY(top > 0);

        const QString synced = Lines(linesAfter, "别处改过的一行", changedLine);
        StoreNote(0, synced);
        sync->ShowApplied();
        QCOMPARE(memo->toPlainText(), QString(synced).replace("\r\n", "\n"));
        const int expected = std::min(position + shift, memo->document()->characterCount() - 1);
        QCOMPARE(memo->textCursor().position(), expected);
        if (linesAfter > caretLine)
            QCOMPARE(memo->verticalScrollBar()->value(), top);

        Type("X");
        QString typed = QString(synced).replace("\r\n", "\n");
        typed.insert(expected, 'X');
        QCOMPARE(StoredNote(0), typed.replace("\n", "\r\n"));
        QVERIFY(!StoredNote(0).contains(kNoteConflictLine));
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    // Another computer's change of the note being typed in is merged into
    // the memo: the typed text stays, the caret stays on its characters (a
    // line added just below the caret's line goes below it), and the next
    // key is saved over the merged text, no second copy below a line.
    void remoteChangeMergesIntoTheMemo_data()
    {
        QTest::addColumn<int>("line"); // where the caret is
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("stored"); // what the other computer made of the note
        QTest::addColumn<QString>("after");  // the note after a key "Y"
        const QString note = "第一行\r\n第二行\r\n第三行";
        QTest::newRow("a line changed below") << 0 << 2 << "第一行\r\n第二行\r\n第三行改"
                                              << "第一Y行\r\n第二行\r\n第三行改";
        QTest::newRow("a line added above") << 2 << 0 << "第一行\r\n新\r\n第二行\r\n第三行"
                                            << "第一行\r\n新\r\n第二行\r\nY第三行";
        QTest::newRow("a line added at the end, the caret there") << 2 << 3 << note + "\r\n别处"
                                                                  << "第一行\r\n第二行\r\n第三行Y\r\n别处";
        QTest::newRow("the caret's own line added to just there") << 1 << 3 << "第一行\r\n第二行改\r\n第三行"
                                                                  << "第一行\r\n第二行改Y\r\n第三行";
    }
    void remoteChangeMergesIntoTheMemo()
    {
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, stored);
        QFETCH(QString, after);
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (0,'第一行\r\n第二行\r\n第三行')");
        OpenWindow();
        QTextCursor caret(memo->document()->findBlockByNumber(line));
        caret.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, column);
        memo->setTextCursor(caret);
        StoreNote(0, stored);
        sync->ShowApplied();
        QCOMPARE(memo->toPlainText(), QString(stored).replace("\r\n", "\n"));
        Type("Y");
        QCOMPARE(StoredNote(0), after);
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    // An input method's unfinished text is left alone while another
    // computer's change comes in, and goes where it was begun.
    void remoteChangeLeavesTheInputMethodAlone()
    {
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (0,'第一行\r\n第二行')");
        OpenWindow();
        memo->setFocus();
        memo->moveCursor(QTextCursor::End);
        QInputMethodEvent composing("zhong", {});
        QApplication::sendEvent(memo, &composing);
        StoreNote(0, "别处\r\n第一行\r\n第二行");
        sync->ShowApplied();
        QCOMPARE(memo->textCursor().block().layout()->preeditAreaText(), QString("zhong"));
        QInputMethodEvent done;
        done.setCommitString("中");
        QApplication::sendEvent(memo, &done);
        QCOMPARE(StoredNote(0), QString("别处\r\n第一行\r\n第二行中"));
    }

    // A round that left the memo's note alone leaves the memo alone: its
    // undo history stays.
    void unchangedNoteKeepsTheMemo()
    {
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (0,'根目录的记事')");
        OpenWindow();
        memo->moveCursor(QTextCursor::End);
        Type("Y");
        QVERIFY(memo->document()->isUndoAvailable());
        sync->ShowApplied();
        QVERIFY(memo->document()->isUndoAvailable());
        QCOMPARE(StoredNote(0), QString("根目录的记事Y"));
    }

    // The tree shows the other computer's groups with the selection and the
    // open groups kept; a memo whose group went shows the root's note, and
    // what is typed next is the root's.
    void syncedTreeKeepsItsPlaceOrFallsBackToTheRoot()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'A')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,1,'A1')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (3,0,'B')@#@"
                  "insert into NoteBook(TypeID,ReMark) values (0,'根')@#@"
                  "insert into NoteBook(TypeID,ReMark) values (2,'A1 的记事')@#@"
                  "insert into NoteBook(TypeID,ReMark) values (3,'B 的记事')");
        OpenWindow();
        SelectGroup("A1");
        QCOMPARE(memo->toPlainText(), QString("A1 的记事"));
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (4,1,'A2')");
        sync->ShowApplied();
        QVERIFY(FindNode(tree, "A2"));
        QVERIFY(FindNode(tree, "A")->isExpanded());
        QCOMPARE(tree->currentItem()->text(0), QString("A1"));
        QCOMPARE(memo->toPlainText(), QString("A1 的记事"));

        SelectGroup("B");
        DbExecSQL("delete from NoteType where SelfIndex=3@#@delete from NoteBook where TypeID=3");
        sync->ShowApplied();
        QVERIFY(!FindNode(tree, "B"));
        QCOMPARE(memo->toPlainText(), QString("根"));
        memo->moveCursor(QTextCursor::End);
        Type("Z");
        QCOMPARE(StoredNote(0), QString("根Z"));
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook where TypeID=3"), 0);
    }

    // The tray's tip says the state of sync while it is on.
    void trayTipFollowsSync()
    {
        OpenWindow();
        QVERIFY(QDir().mkpath(env->Path("shared")));
        TSync::Setup(env->Path("shared"), QString());
        sync->SettingsChanged();
        QVERIFY2(tray->toolTip().startsWith("Jotterel\n") && tray->toolTip().size() > 9, qPrintable(tray->toolTip()));
        TSync::Stop();
        sync->SettingsChanged();
        QCOMPARE(tray->toolTip(), QString("Jotterel"));
    }

    // Rounds of the timers that fail are logged each time, said in the tray's
    // tip, and in a box once until a round succeeds again.
    void failingRoundsSayItOnceAnEpisode()
    {
        OpenWindow();
        const QString shared = env->Path("shared");
        QVERIFY(QDir().mkpath(shared));
        TSync::Setup(shared, QString());
        sync->SettingsChanged();
        const auto failuresLogged = [] {
            QFile log(AppPath() + "Log" + TClock::Now().toString("yyyyMMdd") + ".log");
            return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).count("同步失败") : 0;
        };
        auto* periodic = Find<QTimer>(form.get(), "syncPeriodic");
        periodic->start(10);
        for (int episode = 1; episode <= 2; ++episode) {
            // The folder goes away (a share not mounted) and comes back as it was.
            QVERIFY(QDir().rename(shared, shared + ".away"));
            const int before = failuresLogged();
            QTRY_VERIFY(failuresLogged() >= before + 3);
            QCOMPARE(env->Responder.Shown.size(), episode);
            QCOMPARE(env->Responder.Shown.last().kind, IDialogResponder::Kind::Error);
            QVERIFY(tray->toolTip().contains("同步失败"));
            QVERIFY(QDir().rename(shared + ".away", shared));
            QTRY_VERIFY2(sync->Failure().isEmpty(), qPrintable(sync->Failure()));
        }
    }

    void commandLineIsParsed_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<TSyncCommand::TKind>("kind");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("readPassphrase");
        using K = TSyncCommand::TKind;
        QTest::newRow("no sync option") << QStringList{"--export-notes", "x"} << K::None << "" << false;
        QTest::newRow("join") << QStringList{"--sync-folder", "/s"} << K::Join << "/s" << false;
        QTest::newRow("join, passphrase after")
            << QStringList{"--sync-folder", "/s", "--sync-passphrase"} << K::Join << "/s" << true;
        QTest::newRow("join, passphrase before")
            << QStringList{"--sync-passphrase", "--sync-folder", "/s"} << K::Join << "/s" << true;
        QTest::newRow("folder named like an option")
            << QStringList{"--sync-folder", "--sync-now"} << K::Join << "--sync-now" << false;
        QTest::newRow("stop") << QStringList{"--sync-folder", ""} << K::Stop << "" << false;
        QTest::newRow("now") << QStringList{"--sync-now"} << K::Now << "" << false;
        QTest::newRow("folder missing") << QStringList{"--sync-folder"} << K::Invalid << "" << false;
        QTest::newRow("passphrase alone") << QStringList{"--sync-passphrase"} << K::Invalid << "" << false;
        QTest::newRow("passphrase to stop")
            << QStringList{"--sync-folder", "", "--sync-passphrase"} << K::Invalid << "" << false;
        QTest::newRow("two folders") << QStringList{"--sync-folder", "/a", "--sync-folder", "/b"} << K::Invalid << ""
                                     << false;
        QTest::newRow("now with a folder")
            << QStringList{"--sync-now", "--sync-folder", "/s"} << K::Invalid << "" << false;
        QTest::newRow("with another option")
            << QStringList{"--sync-now", "--export-notes", "x"} << K::Invalid << "" << false;
        QTest::newRow("stray word") << QStringList{"--sync-now", "now"} << K::Invalid << "" << false;
    }
    void commandLineIsParsed()
    {
        QFETCH(QStringList, arguments);
        QFETCH(TSyncCommand::TKind, kind);
        QFETCH(QString, folder);
        QFETCH(bool, readPassphrase);
        const TSyncCommand command = ParseSyncCommand(arguments);
        QCOMPARE(command.Kind, kind);
        if (kind == TSyncCommand::TKind::Join) {
            QCOMPARE(command.Folder, folder);
            QCOMPARE(command.ReadPassphrase, readPassphrase);
        }
    }

    // --sync-now hands the round to the program running on the same data and
    // prints its answer; a program that holds the data but does not answer
    // gives 2.
    void syncNowHandsOverToTheRunningProgram_data()
    {
        QTest::addColumn<int>("answer"); // 0 done, 1 failed, 2 no handler, 3 not listening
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("done") << 0 << 0 << "发出 2 项\n收到 1 项"
                              << "";
        QTest::newRow("failed") << 1 << 1 << ""
                                << "读不到同步文件夹";
        QTest::newRow("not ready") << 2 << 1 << ""
                                   << "还没有准备好";
        QTest::newRow("no answer") << 3 << 2 << ""
                                   << "没有回应";
    }
    void syncNowHandsOverToTheRunningProgram()
    {
        QFETCH(int, answer);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        TSingleInstance running(env->Dir.path());
        QCOMPARE(
            running.Start(1000, answer == 3 ? TSingleInstance::TListening::Later : TSingleInstance::TListening::AtOnce),
            TSingleInstance::TStart::Run);
        int asked = 0;
        RunningCommands()["sync-now"] = [&asked, answer](const QStringList&) {
            ++asked;
            return answer == 0 ? TRunningAnswer{true, "发出 2 项\n收到 1 项"}
                               : TRunningAnswer{false, "读不到同步文件夹"};
        };
        if (answer >= 2)
            RunningCommands().remove("sync-now");
        const QString exe = env->Path("jotterel");
        QVERIFY(QFile::copy(JOTTEREL_EXE, exe));
        QProcess program;
        program.start(exe, {"--sync-now"});
        // The running side answers from this event loop.
        QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 30000);
        RunningCommands().remove("sync-now");
        QCOMPARE(program.exitCode(), status);
        QCOMPARE(QString::fromUtf8(program.readAllStandardOutput()).trimmed(), out);
        const QString said = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(err.isEmpty() ? said.isEmpty() : said.contains(err), qPrintable(said));
        QCOMPARE(asked, answer < 2 ? 1 : 0);
    }
};

JOTTEREL_TEST_MAIN(TestSyncSettings)
#include "test_syncsettings.moc"
