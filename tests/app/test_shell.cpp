#include "ShellTestSupport.h"
#include "app/AutoRun.h"
#include "app/Backup.h"
#include "app/EndSignals.h"
#include "app/Main.h"
#include "app/Stores.h"
#include "app/Tray.h"
#include "app/UntConfig.h"
#include "controls/UiPublic.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/SqliteDb.h"
#include "groups/UntTree.h"
#include "history/AutoBackup.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <csignal>
#include <memory>
#include <sqlite3.h>

// The main window's shell: the tray icon, minimising and closing, starting
// with the desktop, and the backup and restore commands.
namespace {
// The store these tests read and write, as a page or dialog would be handed it.
TConfig Config;
} // namespace

class TestShell : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

    static QSystemTrayIcon* Tray(TFormMain& form) { return form.findChild<QSystemTrayIcon*>("TrayIcon"); }
    static void Trigger(TFormMain& form, const char* action) { form.findChild<QAction*>(action)->trigger(); }
    static QCheckBox* AutoRunBox(TFormMain& form) { return form.findChild<QCheckBox*>("chk1"); }

    static void Minimise(TFormMain& form)
    {
        form.setWindowState(form.windowState() | Qt::WindowMinimized);
        QCoreApplication::processEvents(); // the hiding waits until the state change is over
    }

    static QByteArray Hash(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1);
    }

    // The group names of a database file, read without the program's connection.
    static QStringList NoteGroupsIn(const QString& path)
    {
        sqlite3* db = nullptr;
        QStringList names;
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(db, "select TypeName from NoteType order by SelfIndex", -1, &stmt, nullptr);
            while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
                names << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
            sqlite3_finalize(stmt);
        }
        sqlite3_close(db);
        return names;
    }

    // The root group's note in a database file, read without the program's connection.
    static QString RootNoteIn(const QString& path)
    {
        sqlite3* db = nullptr;
        QString note;
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(db, "select ReMark from NoteBook where TypeID=0", -1, &stmt, nullptr);
            if (stmt && sqlite3_step(stmt) == SQLITE_ROW)
                note = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
            sqlite3_finalize(stmt);
        }
        sqlite3_close(db);
        return note;
    }

    static QStringList Children(QTreeWidgetItem* node)
    {
        QStringList labels;
        for (int i = 0; i < node->childCount(); ++i)
            labels << node->child(i)->text(0);
        return labels;
    }

    static void AddGroups(int from, const QStringList& names)
    {
        QStringList statements;
        for (const QString& name : names) {
            statements << QString("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (%1,0,'%2')")
                              .arg(from)
                              .arg(name);
            statements << QString("insert into IEType(SelfIndex,ParentIndex,TypeName) values (%1,0,'%2')")
                              .arg(from++)
                              .arg(name);
        }
        DbExecSQL(statements.join("@#@"));
    }

    QString LogText() const
    {
        QFile log(AppPath() + "Log" + TClock::Now().toString("yyyyMMdd") + ".log");
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

    static void WriteFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // Whether 数据恢复 offers a list before the file dialog: the data before
    // the last restore while they can be read, or automatic backups.
    static bool RestoreListShown()
    {
        try {
            if (QFileInfo::exists(SafetyCopyPath()))
                return ReadBackupContents(SafetyCopyPath()).Groups >= 0;
        } catch (const EError&) {
        }
        return !TAutoBackups(DefaultAutoBackupFolder()).List().isEmpty();
    }

    // Picks the file (the data before the last restore from the list, any
    // other through the file dialog), answers Yes to the question, and takes
    // the restore back in the message after it when asked to.
    void Restore(TFormMain& form, const QString& source, bool undo = false)
    {
        env->Responder.Answers << true << undo;
        if (RestoreListShown())
            Drive([source](QWidget* dialog) { Click(dialog, source == SafetyCopyPath() ? "btnOK" : "btnOtherFile"); });
        if (source != SafetyCopyPath())
            env->Responder.FileNames << source;
        Trigger(form, "NRestore");
    }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        qputenv("XDG_CONFIG_HOME", env->Path("config").toUtf8());
        SetExecutablePath("/opt/My Apps/jotterel");
        Config = TConfig();
    }
    void cleanup()
    {
        OverrideTrayAvailable(std::nullopt);
        OverrideTrayClickRestores(std::nullopt);
        SetExecutablePath(QString());
        env.reset();
    }

    // ---- Tray icon, minimising, closing

    void trayIconBelongsToTheWindow()
    {
        auto form = std::make_unique<TFormMain>();
        QSystemTrayIcon* tray = Tray(*form);
        QVERIFY(tray);
        QCOMPARE(tray->toolTip(), QString("Jotterel"));
        QVERIFY(!tray->icon().isNull());
        QVERIFY(tray->isVisible());
        QCOMPARE(tray->contextMenu(), form->pmTray);
        QPointer<QSystemTrayIcon> guard(tray);
        form.reset();
        QVERIFY(guard.isNull());
    }

    void minimising_data()
    {
        QTest::addColumn<bool>("trayAvailable");
        QTest::newRow("into the tray") << true;
        QTest::newRow("no tray: stays on the taskbar") << false;
    }

    void minimising()
    {
        QFETCH(bool, trayAvailable);
        OverrideTrayAvailable(trayAvailable);
        TFormMain form;
        form.show();
        Minimise(form);
        QCOMPARE(form.isVisible(), !trayAvailable);
        QVERIFY(form.isMinimized());
        QVERIFY(form.tmr1->isActive());
    }

    void trayClicksBringTheWindowBack_data()
    {
        QTest::addColumn<bool>("statusNotifier");
        QTest::newRow("XEmbed tray: a double click") << false;
        QTest::newRow("StatusNotifier tray: a single click") << true;
    }

    void trayClicksBringTheWindowBack()
    {
        QFETCH(bool, statusNotifier);
        OverrideTrayAvailable(true);
        OverrideTrayClickRestores(statusNotifier);
        TFormMain form;
        form.show();
        Minimise(form);
        QVERIFY(!form.isVisible());
        // The context and middle clicks leave it in the tray, and so does a
        // single click where the tray also reports double ones.
        emit Tray(form)->activated(QSystemTrayIcon::Context);
        emit Tray(form)->activated(QSystemTrayIcon::MiddleClick);
        QVERIFY(!form.isVisible());
        emit Tray(form)->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(form.isVisible(), statusNotifier);
        if (!statusNotifier)
            emit Tray(form)->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(form.isVisible());
        QVERIFY(!form.isMinimized());

        Minimise(form);
        QVERIFY(!form.isVisible());
        Trigger(form, "NShowForm");
        QVERIFY(form.isVisible());
        QVERIFY(!form.isMinimized());
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    void closingAsksAndNoKeepsEverything_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("close box, shown") << false << false;
        QTest::newRow("menu, shown") << true << false;
        QTest::newRow("menu, in the tray") << true << true;
    }

    void closingAsksAndNoKeepsEverything()
    {
        QFETCH(bool, byMenu);
        QFETCH(bool, hidden);
        OverrideTrayAvailable(true);
        TFormMain form;
        form.show();
        if (hidden)
            Minimise(form);
        if (byMenu)
            Trigger(form, "NClose");
        else
            QVERIFY(!form.close());
        QCOMPARE(env->Responder.Texts(), QStringList{"确定要退出程序吗？"});
        QCOMPARE(env->Responder.Shown[0].kind, IDialogResponder::Kind::Question);
        QCOMPARE(form.isVisible(), !hidden);
        QVERIFY(form.NoteTree);
        QVERIFY(Tray(form)->isVisible());
        QVERIFY(form.tmr1->isActive());
    }

    void enterInTheExitQuestionKeepsTheProgram()
    {
        TFormMain form;
        form.show();
        SetDialogResponder(nullptr); // the real message box this time
        TModalDriver driver;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        driver.Actions << [&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            defaultButton = box->standardButton(box->defaultButton());
            QTest::keyClick(box, Qt::Key_Return);
        };
        const bool closed = form.close();
        SetDialogResponder(&env->Responder);
        QCOMPARE(driver.Captions.size(), 1);
        QCOMPARE(defaultButton, QMessageBox::No);
        QVERIFY(!closed);
        QVERIFY(form.isVisible());
        QVERIFY(form.NoteTree);
    }

    // The exit question takes the keyboard: pinyin half typed in the memo
    // never becomes text. Its Yes saves the memo once more, and text that
    // still cannot be saved keeps the program open (the memo's own question).
    void exitQuestionCancelsTheCompositionAndSavesTheMemo()
    {
        TFormMain form;
        form.show();
        auto* memo = form.findChild<QPlainTextEdit*>("mmoNote");
        QInputMethodEvent composing("si ji", {});
        QApplication::sendEvent(memo, &composing);
        env->Responder.Answers = {false};
        QVERIFY(!form.close());
        QCOMPARE(memo->textCursor().block().layout()->preeditAreaText(), QString());
        QInputMethodEvent givenUp;
        givenUp.setCommitString("si ji");
        QApplication::sendEvent(memo, &givenUp);
        QCOMPARE(memo->toPlainText(), QString());

        sqlite3* reader = nullptr;
        QCOMPARE(sqlite3_open(DbAccess->DatabasePath().toUtf8().constData(), &reader), SQLITE_OK);
        QCOMPARE(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM NoteBook", nullptr, nullptr, nullptr), SQLITE_OK);
        QTest::keyClicks(memo, "typed");
        env->Responder.Answers = {true};
        const bool closed = form.close();
        sqlite3_close(reader);
        QVERIFY(!closed);
        const QStringList asked = env->Responder.Texts().mid(2);
        QCOMPARE(asked.value(0), QString("确定要退出程序吗？"));
        QVERIFY2(asked.value(1).startsWith("记事内容未能保存："), qPrintable(asked.value(1)));
        QCOMPARE(memo->toPlainText(), QString("typed"));
    }

    void yesEndsTheProgramWithStatusZero_data()
    {
        QTest::addColumn<bool>("hidden");
        QTest::newRow("shown") << false;
        QTest::newRow("in the tray") << true;
    }

    void yesEndsTheProgramWithStatusZero()
    {
        QFETCH(bool, hidden);
        OverrideTrayAvailable(true);
        TFormMain form;
        form.show();
        if (hidden)
            Minimise(form);
        env->Responder.Answers << true;
        QTimer::singleShot(0, &form, [&form] { Trigger(form, "NClose"); });
        // Only a safety net: a program that does not end fails here.
        QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!form.IETree);
        QVERIFY(!form.NoteTree);
        QVERIFY(!Tray(form)->isVisible());
        QVERIFY(!form.isVisible());
    }

    // A signal that ends a program (kill, a closed terminal, Ctrl+C) ends it
    // as 关闭 does, asking nothing: a large note's typing still waiting for
    // its pause is saved, and the program ends with status 0. (Each of the
    // signals, on the real program: test_singleinstance.)
    void endSignalEndsAsClosed()
    {
        const QString large = QString(QString("长").repeated(98) + "\r\n").repeated(11000);
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (0,'" + large + "')");
        TFormMain form;
        form.show();
        EndOnSignals(&form, [&form] { form.EndAsClosed(); });
        auto* memo = form.findChild<QPlainTextEdit*>("mmoNote");
        QTest::keyClicks(memo, "xy");
        QCOMPARE(RootNoteIn(DbAccess->DatabasePath()), large); // waiting for the pause
        QTimer::singleShot(0, [] { std::raise(SIGTERM); });
        // Only a safety net: a program that does not end fails here.
        QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(RootNoteIn(DbAccess->DatabasePath()), "xy" + large);
        QCOMPARE(env->Responder.Shown.size(), 0);
        QVERIFY(!form.NoteTree);
    }

    // ---- Start with the desktop

    void startWithTheDesktopOnAndOff()
    {
        const QString entry = env->Path("config/autostart/Jotterel.desktop");
        TFormMain form;
        form.show();
        QVERIFY(AutoRunBox(form)->isEnabled());
        QVERIFY(!AutoRunBox(form)->isChecked());
        // Showing the state writes nothing.
        QVERIFY(!QFile::exists(entry));

        AutoRunBox(form)->click();
        QVERIFY(AutoRunBox(form)->isChecked());
        QVERIFY(AutoRunStarts("Jotterel", "/opt/My Apps/jotterel"));

        TFormMain next; // the next start shows it on
        next.show();
        QVERIFY(AutoRunBox(next)->isChecked());

        AutoRunBox(form)->click();
        QVERIFY(!AutoRunBox(form)->isChecked());
        QVERIFY(!QFile::exists(entry));
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    void entryOfAnotherCopyReadsAsOff()
    {
        SetAutoRun("Jotterel", "/usr/local/bin/jotterel", true);
        TFormMain form;
        form.show();
        QVERIFY(!AutoRunBox(form)->isChecked());
        AutoRunBox(form)->click(); // takes the entry over
        QVERIFY(AutoRunBox(form)->isChecked());
        QVERIFY(AutoRunStarts("Jotterel", "/opt/My Apps/jotterel"));
    }

    void unwritableAutostartFolderLeavesTheBoxAsItWas()
    {
        QDir().mkpath(env->Path("config"));
        WriteFile(env->Path("config/autostart"), "not a folder");
        TFormMain form;
        form.show();
        AutoRunBox(form)->click();
        QVERIFY(!AutoRunBox(form)->isChecked());
        QCOMPARE(env->Responder.Shown.size(), 1);
        QCOMPARE(env->Responder.Shown[0].kind, IDialogResponder::Kind::Error);
        QVERIFY(env->Responder.LastText().contains(env->Path("config/autostart")));
    }

    // ---- Backup

    void backupFileNameEndsInBat_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written");
        QTest::newRow("no extension") << "mydata"
                                      << "mydata.bat";
        // The save dialog asked whether to replace it: the answer holds.
        QTest::newRow("an existing backup") << "old.bat"
                                            << "old.bat";
        QTest::newRow("upper-case extension") << "NEW.BAT"
                                              << "NEW.BAT";
        QTest::newRow("another extension") << "data.txt"
                                           << "data.txt.bat";
        QTest::newRow("bat inside the name") << "bat.batch"
                                             << "bat.batch.bat";
    }

    void backupFileNameEndsInBat()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        QDir().mkpath(env->Path("save"));
        WriteFile(env->Path("save/old.bat"), "an earlier backup");
        AddGroups(1, {"备份前"});
        TFormMain form;
        env->Responder.FileNames << env->Path("save/" + chosen);
        Trigger(form, "NBackup");
        QVERIFY(env->Responder.Shown.isEmpty());
        const QString target = env->Path("save/" + written);
        QCOMPARE(Hash(target), Hash(DbAccess->DatabasePath()));
        QCOMPARE(NoteGroupsIn(target), QStringList{"备份前"});
        if (written != "old.bat")
            QCOMPARE(Hash(env->Path("save/old.bat")),
                     QCryptographicHash::hash("an earlier backup", QCryptographicHash::Sha1));
        // Nothing half-written is left beside it.
        QStringList expected{"old.bat", written};
        expected.removeDuplicates();
        expected.sort();
        QCOMPARE(QDir(env->Path("save")).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    }

    void backupCancelledOrFailed()
    {
        TFormMain form;
        const QStringList before = QDir(env->Dir.path()).entryList(QDir::Files | QDir::Hidden);
        Trigger(form, "NBackup"); // cancelled in the save dialog
        QVERIFY(env->Responder.Shown.isEmpty());
        QCOMPARE(QDir(env->Dir.path()).entryList(QDir::Files | QDir::Hidden), before);

        env->Responder.FileNames << env->Path("missing/folder/data");
        Trigger(form, "NBackup");
        QCOMPARE(env->Responder.Shown.size(), 1);
        QVERIFY2(env->Responder.LastText().startsWith("数据库备份失败！\r\n详细信息："),
                 qPrintable(env->Responder.LastText()));
        QVERIFY(env->Responder.LastText().contains("missing/folder/data.bat"));
        QVERIFY(!QFile::exists(env->Path("missing/folder/data.bat")));
    }

    // A save proposes a dated name in the folder used last while it is
    // there, else in the documents (or home) folder: never where the
    // program runs, where a dialog without a start opens.
    void saveProposesADatedNameInTheFolderUsedLast_data()
    {
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("kept");
        QTest::newRow("none yet") << "" << false;
        QTest::newRow("used last") << "save" << true;
        QTest::newRow("since deleted") << "gone" << false;
    }

    void saveProposesADatedNameInTheFolderUsedLast()
    {
        QFETCH(QString, last);
        QFETCH(bool, kept);
        TClock::Set(QDateTime(QDate(2026, 12, 9), QTime(23, 59, 30)));
        QDir().mkpath(env->Path("save"));
        const QString folder = last.isEmpty() ? QString() : env->Path(last);
        const QFileInfo proposed(ProposedFileName(folder, "备份", "bat"));
        QCOMPARE(proposed.fileName(), QString("Jotterel-备份-2026-12-09.bat"));
        QCOMPARE(proposed.absolutePath(), StartFolder(folder));
        if (kept) {
            QCOMPARE(proposed.absolutePath(), folder);
        } else {
            QVERIFY(proposed.absoluteDir().exists());
            QVERIFY(proposed.absoluteDir() != QDir(AppPath()));
            QVERIFY(proposed.absoluteDir() != QDir::current());
        }
    }

    // The folder of a file chosen is kept with the window's state, for the
    // next run too, also by a run that chose none.
    void chosenFolderIsRemembered()
    {
        QDir().mkpath(env->Path("save"));
        const auto folder = [] {
            return QJsonDocument::fromJson(Config.LoadWindowState().toUtf8()).object().value("folder").toString();
        };
        for (const bool backup : {true, false}) {
            TFormMain form;
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            if (backup) {
                env->Responder.FileNames << env->Path("save/mine.bat");
                Trigger(form, "NBackup");
                QVERIFY(QFile::exists(env->Path("save/mine.bat")));
            }
            env->Responder.Answers = {true};
            form.close();
            QCOMPARE(folder(), env->Path("save"));
        }
    }

    // ---- Restore

    void restoreBringsBackTheBackupOnEveryPage_data()
    {
        QTest::addColumn<bool>("bookmarksShown");
        QTest::newRow("bookmark page shown before") << true;
        QTest::newRow("bookmark page first shown after") << false;
    }

    void restoreBringsBackTheBackupOnEveryPage()
    {
        QFETCH(bool, bookmarksShown);
        AddGroups(1, {"旧组"});
        TFormMain form;
        form.show();
        DbBackup(env->Path("backup.bat"));

        AddGroups(2, {"新组", "另一组"});
        Config.bPass = true;
        Config.PassWord = "pw";
        Config.SaveConfig();
        if (bookmarksShown)
            OnShownPage<QTreeWidget>(&form, "tvIE");

        Restore(form, env->Path("backup.bat"));
        OnShownPage<QTreeWidget>(&form, "tvIE");
        // One question naming the file and what it holds against the data
        // now, one message when it is done.
        const QStringList said = env->Responder.Texts();
        QCOMPARE(said.size(), 2);
        QVERIFY2(said[0].startsWith("要用" + env->Path("backup.bat")) &&
                     said[0].contains("其中有：2 个分组，0 篇记事") &&
                     said[0].contains("现在的数据：6 个分组，0 篇记事"),
                 qPrintable(said[0]));
        QVERIFY2(said[1].startsWith("数据已恢复为") && said[1].contains("撤销恢复"), qPrintable(said[1]));
        QCOMPARE(NoteGroupsIn(DbAccess->DatabasePath()), QStringList{"旧组"});
        QCOMPARE(DbGetIntValue("select count(*) from IEType"), 1);
        // The pages show the restored data, and new groups are numbered from it.
        QCOMPARE(Children(form.NoteTree->RootNode), QStringList{"旧组"});
        QCOMPARE(Children(form.IETree->RootNode), QStringList{"旧组"});
        QCOMPARE(form.findChild<QTreeWidget*>("tvNote")->topLevelItemCount(), 1);
        QCOMPARE(form.IETree->MaxSelfIndex(), 1);
        QCOMPARE(form.findChild<QTreeWidget*>("tvNote")->currentItem(), form.NoteTree->RootNode);
        QCOMPARE(form.Stores().Config.bPass, false);
        // The safety copy holds the data the restore replaced.
        QCOMPARE(NoteGroupsIn(SafetyCopyPath()), (QStringList{"旧组", "新组", "另一组"}));
        QCOMPARE(LogText().count("数据恢复！"), 1);
    }

    // Text the memo could not save goes into the data the safety copy is
    // made of, or the restore is refused; it never lands in the restored data.
    void restoreNeverTakesTheMemoTextAlong_data()
    {
        QTest::addColumn<bool>("stillLocked");
        QTest::newRow("lock gone") << false;
        QTest::newRow("still locked") << true;
    }

    void restoreNeverTakesTheMemoTextAlong()
    {
        QFETCH(bool, stillLocked);
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (0,'旧')");
        DbBackup(env->Path("backup.bat"));
        DbExecSQL("update NoteBook set ReMark='新'");
        TFormMain form;
        form.show();
        auto* memo = form.findChild<QPlainTextEdit*>("mmoNote");
        QCOMPARE(memo->toPlainText(), QString("新"));
        // Another program reads the file: the save of the typed text fails.
        sqlite3* reader = nullptr;
        QCOMPARE(sqlite3_open(DbAccess->DatabasePath().toUtf8().constData(), &reader), SQLITE_OK);
        QCOMPARE(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM NoteBook", nullptr, nullptr, nullptr), SQLITE_OK);
        QTest::keyClicks(memo, "!");
        QCOMPARE(env->Responder.Shown.size(), 1);
        if (!stillLocked)
            sqlite3_exec(reader, "ROLLBACK", nullptr, nullptr, nullptr);
        Restore(form, env->Path("backup.bat"));
        sqlite3_close(reader);
        if (stillLocked) {
            QVERIFY2(env->Responder.LastText().startsWith("记事内容未能保存，数据没有恢复！\r\n详细信息："),
                     qPrintable(env->Responder.LastText()));
            QCOMPARE(RootNoteIn(DbAccess->DatabasePath()), QString("新"));
            QVERIFY(!QFileInfo::exists(SafetyCopyPath()));
            QCOMPARE(memo->toPlainText(), QString("!新"));
            QCOMPARE(LogText().count("数据恢复！"), 0);
        } else {
            QCOMPARE(RootNoteIn(SafetyCopyPath()), QString("!新"));
            QCOMPARE(RootNoteIn(DbAccess->DatabasePath()), QString("旧"));
            QCOMPARE(memo->toPlainText(), QString("旧"));
            QCOMPARE(env->Responder.Shown.size(), 3); // the box of the failed save, the question, the message
        }
        // Typing goes on in the note the memo shows.
        QTest::keyClicks(memo, "+");
        QCOMPARE(RootNoteIn(DbAccess->DatabasePath()), stillLocked ? QString("!+新") : QString("+旧"));
    }

    void restoreAnsweredNoOrCancelledChangesNothing()
    {
        AddGroups(1, {"组"});
        TFormMain form;
        DbBackup(env->Path("backup.bat"));
        const QByteArray before = Hash(DbAccess->DatabasePath());
        Trigger(form, "NRestore"); // cancelled in the open dialog: nothing is asked
        QCOMPARE(env->Responder.Shown.size(), 0);
        env->Responder.FileNames << env->Path("backup.bat");
        Trigger(form, "NRestore"); // No to the question
        QCOMPARE(env->Responder.Shown.size(), 1);
        QCOMPARE(Hash(DbAccess->DatabasePath()), before);
        QVERIFY(!QFile::exists(SafetyCopyPath()));
        QCOMPARE(LogText(), QString());
    }

    void unusableFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("sql");   // builds an SQLite file when not empty
        QTest::addColumn<QByteArray>("bytes"); // else the file's bytes
        QTest::newRow("garbage") << QByteArray() << QByteArray("MZ this is no database\x01\x02\x03", 25);
        QTest::newRow("empty file") << QByteArray() << QByteArray();
        QTest::newRow("another program's database")
            << QByteArray("PRAGMA application_id=42; CREATE TABLE Notes(x); INSERT INTO Notes VALUES (1);")
            << QByteArray();
        QTest::newRow("a table missing")
            << QByteArray("PRAGMA application_id=1246720116; CREATE TABLE IE(ID); CREATE TABLE IEType(a);")
            << QByteArray();
        QTest::newRow("half a backup") << QByteArray("half") << QByteArray();
    }

    void unusableFilesAreRefused()
    {
        QFETCH(QByteArray, sql);
        QFETCH(QByteArray, bytes);
        const QString source = env->Path("chosen.bat");
        if (sql == "half") {
            AddGroups(1, {"a", "b", "c"});
            DbExecSQL("insert into NoteBook(TypeID,ReMark) values (1,'" + QString(20000, 'x') + "')");
            DbBackup(source);
            QFile file(source);
            QVERIFY(file.resize(file.size() / 2));
        } else if (!sql.isEmpty()) {
            sqlite3* db = nullptr;
            QCOMPARE(sqlite3_open(source.toUtf8().constData(), &db), SQLITE_OK);
            QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        } else {
            WriteFile(source, bytes);
        }
        AddGroups(10, {"现在的组"});
        WriteFile(SafetyCopyPath(), "the safety copy of an earlier restore");
        const QByteArray database = Hash(DbAccess->DatabasePath());
        const QByteArray safety = Hash(SafetyCopyPath());
        const QByteArray chosen = Hash(source);
        TFormMain form;
        form.show();

        // Refused before the question where what it holds cannot be read, else after it.
        Restore(form, source);
        QVERIFY(env->Responder.Shown.size() <= 2);
        QVERIFY2(env->Responder.LastText().startsWith("数据库恢复失败！\r\n详细信息："),
                 qPrintable(env->Responder.LastText()));
        QCOMPARE(Hash(DbAccess->DatabasePath()), database);
        QCOMPARE(Hash(SafetyCopyPath()), safety);
        QCOMPARE(Hash(source), chosen);
        QCOMPARE(LogText(), QString());
        QVERIFY(DbAccess->Connected());
        QVERIFY(Children(form.NoteTree->RootNode).contains("现在的组"));
    }

    // 数据恢复 offers the automatic backups first, with what each holds;
    // 其他文件… leaves the choice to the file dialog.
    void restoreOffersTheAutomaticBackupsFirst_data()
    {
        QTest::addColumn<bool>("otherFile");
        QTest::newRow("the newest backup") << false;
        QTest::newRow("another file") << true;
    }
    void restoreOffersTheAutomaticBackupsFirst()
    {
        QFETCH(bool, otherFile);
        AddGroups(1, {"旧组"});
        TFormMain form;
        form.show();
        TAutoBackups(DefaultAutoBackupFolder()).Write(DbAccess->Handle(), QDate(2026, 12, 8));
        AddGroups(2, {"新组"});
        DbBackup(env->Path("other.bat"));
        env->Responder.Answers << true;
        env->Responder.FileNames << env->Path("other.bat");
        QStringList listed;
        Drive([&](QWidget* dialog) {
            const QTreeWidgetItem* newest = dialog->findChild<QTreeWidget*>("lvBackups")->topLevelItem(0);
            listed = QStringList{newest->text(0), newest->text(1).section(' ', 1), newest->text(2)};
            Click(dialog, otherFile ? "btnOtherFile" : "btnOK");
        });
        Trigger(form, "NRestore");
        QCOMPARE(listed, QStringList({"2026-12-08 周二", "KB", "2 个分组，0 篇记事，0 个网址，0 个提醒"}));
        QCOMPARE(NoteGroupsIn(DbAccess->DatabasePath()),
                 otherFile ? QStringList({"旧组", "新组"}) : QStringList({"旧组"}));
        QCOMPARE(env->Responder.FileNames.isEmpty(), otherFile); // the file dialog was asked only then
    }

    // Changed their mind: 撤销恢复 in the message after the restore, or the
    // data before the last restore chosen later in the list, brings back
    // what was replaced; the safety copy then keeps what it replaced in turn.
    void restoreIsTakenBack_data()
    {
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("撤销恢复 in the message") << true;
        QTest::newRow("上次恢复之前 in the list") << false;
    }
    void restoreIsTakenBack()
    {
        QFETCH(bool, atOnce);
        AddGroups(1, {"还原前"});
        TFormMain form;
        form.show();
        DbBackup(env->Path("backup.bat"));
        AddGroups(2, {"被覆盖"});
        Restore(form, env->Path("backup.bat"), atOnce);
        if (!atOnce) {
            QCOMPARE(NoteGroupsIn(DbAccess->DatabasePath()), QStringList{"还原前"});
            Restore(form, SafetyCopyPath());
        }
        QCOMPARE(NoteGroupsIn(DbAccess->DatabasePath()), (QStringList{"还原前", "被覆盖"}));
        QCOMPARE(NoteGroupsIn(SafetyCopyPath()), QStringList{"还原前"});
        QCOMPARE(Children(form.NoteTree->RootNode), (QStringList{"还原前", "被覆盖"}));
        QCOMPARE(LogText().count("数据恢复！"), 2);
        if (atOnce)
            QCOMPARE(env->Responder.LastText(), QString("已撤销恢复，数据回到了恢复之前。"));
        else
            QVERIFY2(env->Responder.Texts().at(2).startsWith("要用上次恢复之前的数据"),
                     qPrintable(env->Responder.Texts().at(2)));
    }

    void unwritableSafetyCopyStopsTheRestore()
    {
        AddGroups(1, {"备份"});
        DbBackup(env->Path("backup.bat"));
        AddGroups(2, {"现在"});
        QVERIFY(QDir().mkpath(SafetyCopyPath())); // a folder where the copy belongs
        const QByteArray database = Hash(DbAccess->DatabasePath());
        TFormMain form;
        form.show();
        Restore(form, env->Path("backup.bat"));
        QVERIFY2(env->Responder.LastText().startsWith("数据库恢复失败！\r\n详细信息："),
                 qPrintable(env->Responder.LastText()));
        QCOMPARE(Hash(DbAccess->DatabasePath()), database);
        QVERIFY(QFileInfo(SafetyCopyPath()).isDir());
        QCOMPARE(LogText(), QString());
        QCOMPARE(Children(form.NoteTree->RootNode), (QStringList{"备份", "现在"}));
    }

    // ---- Read-only data

    void readOnlyDataAreSaidOnceAndEveryChangeIsRefused_data()
    {
        QTest::addColumn<QString>("action");
        for (const char* action :
             {"NAddNoteType", "NModNoteType", "NDelNoteType", "NAddIEType", "NModIeType", "NDelIEType", "N1", "N5",
              "N2", "N3", "NAddAlam", "NModAlam", "NDelAlam", "NSetup", "NRestore", "NImportNotes", "NImportIE"})
            QTest::newRow(action) << QString(action);
    }

    void readOnlyDataAreSaidOnceAndEveryChangeIsRefused()
    {
        QFETCH(QString, action);
        AddGroups(1, {"组"});
        DbExecSQL("insert into IE(TypeID,IEUrl,IEName,ReMark) values (1,'https://example.com','例子','')@#@"
                  "insert into Alam(AlamTime,AlamDate,ReDay,ReMark) values (0.99,Date(),0,'提醒')");
        DbBackup(env->Path("backup.bat"));
        // The data folder takes no writes (tests run as root, whom modes do not stop).
        const QString folder = QDir::cleanPath(env->Dir.path());
        TDbAccess::PathWritable = [folder](const QString& path) { return QDir::cleanPath(path) != folder; };
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        TDbAccess::PathWritable = nullptr;
        const QByteArray before = Hash(DbAccess->DatabasePath());

        TModalDriver modals; // cancels, and records, any window that would ask the user
        TFormMain form;
        form.show();
        QCOMPARE(env->Responder.Texts(), QStringList{"数据文件只读，所做修改不会保存。"});
        auto* memo = form.findChild<QPlainTextEdit*>("mmoNote");
        QVERIFY(memo->isReadOnly());
        form.findChild<QTreeWidget*>("tvNote")->setCurrentItem(form.NoteTree->RootNode->child(0));
        QVERIFY(memo->isReadOnly());
        OnShownPage<QTreeWidget>(&form, "tvIE")->setCurrentItem(form.IETree->RootNode->child(0));
        auto* reminders = OnShownPage<QTreeWidget>(&form, "lv1");
        QCOMPARE(reminders->topLevelItemCount(), 1);
        reminders->topLevelItem(0)->setSelected(true);

        env->Responder.Answers << true << true;
        env->Responder.FileNames << env->Path("backup.bat");
        Trigger(form, action.toLatin1().constData());
        QCOMPARE(env->Responder.Texts(),
                 (QStringList{"数据文件只读，所做修改不会保存。", "数据文件只读，不能修改数据！"}));
        QCOMPARE(modals.Captions, QStringList());
        QCOMPARE(Hash(DbAccess->DatabasePath()), before);
    }
};

JOTTEREL_TEST_MAIN(TestShell)
#include "test_shell.moc"
