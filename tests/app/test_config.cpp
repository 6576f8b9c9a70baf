#include "ShellTestSupport.h"
#include "app/Config.h"
#include "app/Main.h"
#include "app/Pass.h"
#include "app/Stores.h"
#include "app/UntConfig.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/PassHash.h"
#include "groups/UntTree.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

// The login password: the settings object, the password dialog, the settings
// dialog's rules and the login at the main window's first show.
namespace {
// The store these tests read and write, as a page or dialog would be handed it.
TConfig Config;
} // namespace

class TestConfig : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

    static void Store(bool on, const QString& password)
    {
        Config.bPass = on;
        Config.PassWord = password;
        Config.SaveConfig();
    }

    static QPair<bool, QString> Stored()
    {
        DbAccess->OpenQuery("select bPass, PassWord from SysSet");
        return {DbAccess->QuerySet->AsBoolean("bPass"), DbAccess->QuerySet->AsString("PassWord")};
    }

private slots:
    // Whether the stored text keeps the password: its hash, or nothing for none.
    static bool Keeps(const QString& stored, const QString& password)
    {
        return password.isEmpty() ? stored.isEmpty() : IsPasswordHash(stored) && PasswordMatches(stored, password);
    }

    void init()
    {
        env = std::make_unique<TTestEnv>();
        Config = TConfig();
        // Hashes made here cost little; one test below checks the real cost.
        SetNewPasswordIterations(1000);
        ResetPasswordTries();
    }
    void cleanup() { env.reset(); }

    void settingsRoundTripThroughTheTable()
    {
        Config.LoadConfig();
        QCOMPARE(Config.LastSQL, QString("select * from SysSet"));
        QCOMPARE(Config.bPass, false);
        QCOMPARE(Config.PassWord, QString());

        Config.bPass = true;
        Config.PassWord = " it's mine ";
        Config.SaveConfig();
        QCOMPARE(Config.LastSQL, QString("update SysSet set bPass='-1',[PassWord]=' it''s mine ' "));
        Config = TConfig();
        Config.LoadConfig();
        QCOMPARE(Config.bPass, true);
        QCOMPARE(Config.PassWord, QString(" it's mine "));

        Config.bPass = false;
        Config.SaveConfig();
        QCOMPARE(Config.LastSQL, QString("update SysSet set bPass='0',[PassWord]=' it''s mine ' "));

        // A table without rows means no password, whatever was held before.
        DbExecSQL("delete from SysSet");
        Config.bPass = true;
        Config.LoadConfig();
        QCOMPARE(Config.bPass, false);
        QCOMPARE(Config.PassWord, QString());
    }

    void passwordDialogWantsTheExactText_data()
    {
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("tries");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("wrong");
        QTest::newRow("first try") << "abc" << QStringList{"abc"} << int(mrOk) << 0;
        QTest::newRow("case counts") << "Abc" << QStringList{"abc", "ABC", "Abc"} << int(mrOk) << 2;
        QTest::newRow("blanks count") << " ab " << QStringList{"ab", " ab", "ab ", " ab "} << int(mrOk) << 3;
        QTest::newRow("four wrong, then right") << "x" << QStringList{"1", "2", "3", "4", "x"} << int(mrOk) << 4;
        QTest::newRow("give up") << "x" << QStringList{"y"} << int(mrCancel) << 1;
    }

    void passwordDialogWantsTheExactText()
    {
        QFETCH(QString, expected);
        QFETCH(QStringList, tries);
        QFETCH(int, result);
        QFETCH(int, wrong);
        TModalDriver driver;
        for (const QString& text : tries)
            driver.Actions << TModalDriver::Type(text);
        QCOMPARE(AskPassword(expected, "先输入密码登录软件"), result);
        QCOMPARE(env->Responder.Texts(), QStringList(wrong, "密码输入错误!"));
        QCOMPARE(driver.Captions.first(), QString("先输入密码登录软件"));
    }

    // New passwords cost at least 600,000 rounds, with a salt of their own;
    // a stored hash is checked with the cost it names.
    void newPasswordsAreSlowSaltedHashes()
    {
        SetNewPasswordIterations(kPasswordIterations);
        const QString stored = HashPassword("秘密 pw");
        QVERIFY(stored.startsWith("pbkdf2-sha256$"));
        QVERIFY(PasswordHashIterations(stored) >= 600000);
        QVERIFY(!stored.contains("秘密"));
        QVERIFY(PasswordMatches(stored, "秘密 pw"));
        SetNewPasswordIterations(1000);
        const QString cheap = HashPassword("秘密 pw");
        QVERIFY(cheap != HashPassword("秘密 pw")); // salted
        QVERIFY(PasswordMatches(cheap, "秘密 pw"));
        for (const QString& wrong : QStringList{"秘密pw", "秘密 PW", "", stored})
            QVERIFY2(!PasswordMatches(cheap, wrong), qPrintable(wrong));
        // A damaged hash is no hash: it matches only itself as typed.
        QVERIFY(!IsPasswordHash("pbkdf2-sha256$1000$$"));
        QVERIFY(!IsPasswordHash("plain"));
    }

    // After five wrong passwords in a row each try waits five seconds.
    void fiveWrongTriesMakeTheNextOneWait()
    {
        TClock::Set(QDateTime(QDate(2024, 5, 1), QTime(9, 0)));
        TModalDriver driver;
        for (int i = 0; i < 5; ++i)
            driver.Actions << TModalDriver::Type("wrong");
        driver.Actions << TModalDriver::Type("pw");
        driver.Actions << [](QWidget* modal) {
            TClock::Advance(4000);
            TModalDriver::Type("pw")(modal);
        };
        driver.Actions << [](QWidget* modal) {
            TClock::Advance(1000);
            TModalDriver::Type("pw")(modal);
        };
        SetNewPasswordIterations(1000);
        QCOMPARE(AskPassword(HashPassword("pw"), "先输入密码登录软件"), int(mrOk));
        QCOMPARE(env->Responder.Texts(), QStringList(5, "密码输入错误!") << "密码输入错误次数过多，请 5 秒后再试！"
                                                                         << "密码输入错误次数过多，请 1 秒后再试！");
        QCOMPARE(driver.Captions.size(), 8);
        TClock::Release();
    }

    void passwordDialogLooksAsDesigned()
    {
        TFormPass dialog;
        QCOMPARE(dialog.windowTitle(), QString("请输入密码"));
        QCOMPARE(dialog.size(), QSize(300, 160));
        auto* edit = dialog.findChild<QLineEdit*>("edtPass");
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(QApplication::focusWidget(), edit);

        // Without a caption of its own the dialog keeps its design caption.
        TModalDriver driver;
        QCOMPARE(AskPassword("p", QString()), int(mrCancel));
        QCOMPARE(driver.Captions, QStringList{"请输入密码"});
    }

    void settingsDialogFollowsTheCheckBox()
    {
        Store(true, "abc");
        TFormConfig dialog(Config);
        QCOMPARE(dialog.windowTitle(), QString("软件设置"));
        QCOMPARE(dialog.size(), QSize(290, 231));
        auto* check = dialog.findChild<QCheckBox*>("chkPass");
        auto* pass = dialog.findChild<QLineEdit*>("edtPass");
        auto* again = dialog.findChild<QLineEdit*>("edtRePass");
        QCOMPARE(check->text(), QString("登录需输入密码"));
        QVERIFY(check->isChecked());
        QCOMPARE(pass->echoMode(), QLineEdit::Password);
        QCOMPARE(again->echoMode(), QLineEdit::Password);
        // Only a hash is kept: the edits start empty, and say that empty keeps it.
        QCOMPARE(pass->text(), QString());
        QCOMPARE(again->text(), QString());
        QCOMPARE(pass->placeholderText(), QString("不修改请留空"));
        QVERIFY(pass->isEnabled() && again->isEnabled());
        QCOMPARE(dialog.findChild<QLabel*>("lblPassNote")->text(), QString("密码只锁住程序窗口，不加密数据文件。"));

        pass->setText("typed");
        check->click();
        QCOMPARE(pass->text(), QString());
        QVERIFY(!pass->isEnabled() && !again->isEnabled());

        check->click();
        QCOMPARE(pass->text(), QString());
        QVERIFY(pass->isEnabled() && again->isEnabled());

        Store(false, QString());
        TFormConfig off(Config);
        QVERIFY(!off.findChild<QCheckBox*>("chkPass")->isChecked());
        QVERIFY(!off.findChild<QLineEdit*>("edtPass")->isEnabled());
    }

    void settingsDialogRules_data()
    {
        QTest::addColumn<bool>("storedOn");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("again");
        QTest::addColumn<QStringList>("answers"); // typed into the password dialogs; "" cancels
        QTest::addColumn<QStringList>("asked");   // captions of the password dialogs
        QTest::addColumn<QStringList>("shown");   // message boxes
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("savedOn");
        QTest::addColumn<QString>("savedPass");

        const QString old = "请先输入旧密码";
        const QString remove = "请先输入密码才可以取消登录密码";
        const QStringList none;
        QTest::newRow("left empty keeps the stored one") << true << "abc" << true << ""
                                                         << "" << none << none << none << true << true << "abc";
        QTest::newRow("first password asks nothing") << false << "" << true << "abc"
                                                     << "abc" << none << none << none << true << true << "abc";
        QTest::newRow("same password asks nothing") << true << "abc" << true << "abc"
                                                    << "abc" << none << none << none << true << true << "abc";
        QTest::newRow("changed password asks the old one")
            << true << "abc" << true << "xyz"
            << "xyz" << QStringList{"abc"} << QStringList{old} << none << true << true << "xyz";
        QTest::newRow("old one typed wrong, then right") << true << "abc" << true << "xyz"
                                                         << "xyz" << QStringList{"ABC", "abc"} << QStringList{old, old}
                                                         << QStringList{"密码输入错误!"} << true << true << "xyz";
        QTest::newRow("old one not given")
            << true << "abc" << true << "xyz"
            << "xyz" << QStringList{""} << QStringList{old} << none << false << true << "abc";
        QTest::newRow("removing asks the current one")
            << true << "abc" << false << ""
            << "" << QStringList{"abc"} << QStringList{remove} << none << true << false << "";
        QTest::newRow("removing not confirmed")
            << true << "abc" << false << ""
            << "" << QStringList{""} << QStringList{remove} << none << false << true << "abc";
        QTest::newRow("staying off asks nothing") << false << "" << false << ""
                                                  << "" << none << none << none << true << false << "";
        QTest::newRow("blanks only refused")
            << false << "" << true << "   "
            << "   " << none << none << QStringList{"密码不能为空!"} << false << false << "";
        QTest::newRow("empty refused before the mismatch")
            << false << "" << true << " "
            << "x" << none << none << QStringList{"密码不能为空!"} << false << false << "";
        QTest::newRow("two texts differ")
            << false << "" << true << "abc"
            << "abd" << none << none << QStringList{"两次输入的密码不一样,请重新输入!"} << false << false << "";
        QTest::newRow("leading and trailing blanks kept") << false << "" << true << " ab "
                                                          << " ab " << none << none << none << true << true << " ab ";
        QTest::newRow("a quote in the password") << false << "" << true << "it's"
                                                 << "it's" << none << none << none << true << true << "it's";
    }

    void settingsDialogRules()
    {
        QFETCH(bool, storedOn);
        QFETCH(QString, stored);
        QFETCH(bool, on);
        QFETCH(QString, pass);
        QFETCH(QString, again);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, asked);
        QFETCH(QStringList, shown);
        QFETCH(bool, saved);
        QFETCH(bool, savedOn);
        QFETCH(QString, savedPass);

        Store(storedOn, stored);
        TFormConfig dialog(Config);
        auto* check = dialog.findChild<QCheckBox*>("chkPass");
        if (check->isChecked() != on)
            check->click();
        dialog.findChild<QLineEdit*>("edtPass")->setText(pass);
        dialog.findChild<QLineEdit*>("edtRePass")->setText(again);

        TModalDriver driver;
        for (const QString& answer : answers)
            driver.Actions << (answer.isEmpty() ? TModalDriver::Cancel() : TModalDriver::Type(answer));
        dialog.OkButton()->click();

        QCOMPARE(driver.Captions, asked);
        QCOMPARE(env->Responder.Texts(), shown);
        QCOMPARE(dialog.result() == QDialog::Accepted, saved);
        QCOMPARE(Stored().first, savedOn);
        QCOMPARE(Config.bPass, savedOn);
        // A save keeps the password as its hash; without one the table is as before.
        if (saved) {
            QVERIFY(Keeps(Stored().second, savedPass));
        } else {
            QCOMPARE(Stored().second, savedPass);
        }
        QCOMPARE(Config.PassWord, Stored().second);
    }

    void failedSaveKeepsTheSettingsAsStored()
    {
        Store(true, "abc");
        DbExecSQL("drop table SysSet");
        TFormConfig dialog(Config);
        dialog.findChild<QCheckBox*>("chkPass")->click();
        TModalDriver driver;
        driver.Actions << TModalDriver::Type("abc");
        dialog.OkButton()->click();
        QCOMPARE(driver.Captions, QStringList{"请先输入密码才可以取消登录密码"});
        QVERIFY(dialog.result() != QDialog::Accepted);
        QVERIFY(env->Responder.LastText().startsWith("数据库操作失败！"));
        QCOMPARE(Config.bPass, true);
        QCOMPARE(Config.PassWord, QString("abc"));
    }

    void showConfigRunsTheDialogModally()
    {
        TModalDriver driver;
        driver.Actions << [](QWidget* modal) {
            modal->findChild<QCheckBox*>("chkPass")->click();
            modal->findChild<QLineEdit*>("edtPass")->setText("new");
            modal->findChild<QLineEdit*>("edtRePass")->setText("new");
            qobject_cast<TFormBaseDlg*>(modal)->OkButton()->click();
        };
        QCOMPARE(ShowConfig(Config), int(mrOk));
        QCOMPARE(driver.Captions, QStringList{"软件设置"});
        QVERIFY(Stored().first);
        QVERIFY(Keeps(Stored().second, "new"));
    }

    void loginAtFirstShow_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QStringList>("answers"); // "" cancels
        QTest::addColumn<int>("logins");
        QTest::addColumn<bool>("ends");
        QTest::newRow("no password, no dialog") << false << QStringList() << 0 << false;
        QTest::newRow("right password") << true << QStringList{" pw"} << 1 << false;
        QTest::newRow("trimmed password is wrong") << true << QStringList{"pw", " pw"} << 2 << false;
        QTest::newRow("cancel ends the program") << true << QStringList{""} << 1 << true;
        QTest::newRow("cancel after a wrong try") << true << QStringList{"x", ""} << 2 << true;
    }

    void loginAtFirstShow()
    {
        QFETCH(bool, on);
        QFETCH(QStringList, answers);
        QFETCH(int, logins);
        QFETCH(bool, ends);
        Store(on, " pw");
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'工作')");
        Config = TConfig();

        TModalDriver driver;
        for (const QString& answer : answers)
            driver.Actions << (answer.isEmpty() ? TModalDriver::Cancel() : TModalDriver::Type(answer));
        TFormMain form;
        form.show();
        QCOMPARE(driver.Captions, QStringList(logins, "先输入密码登录软件"));
        QCOMPARE(form.TerminateRequested(), ends);
        if (ends) {
            QCOMPARE(form.ExitCode(), 0);
            // The end was asked of the message loop: running it ends at once.
            QCOMPARE(QApplication::exec(), 0);
        }
        // The later steps of the first show run either way.
        QCOMPARE(form.NoteTree->RootNode->childCount(), 1);
        QCOMPARE(form.Stores().Config.bPass, on);
        // An older file's plain password logs in once and is then kept as
        // its hash; a login given up leaves the file alone.
        QCOMPARE(IsPasswordHash(Stored().second), !ends);
        QVERIFY(ends ? Stored().second == " pw" : Keeps(Stored().second, " pw"));
    }

    // The tray menu stays usable while the login waits; 关闭 and 是 end the
    // program there with status 0, loading and writing nothing.
    void closingFromTheTrayDuringTheLoginEndsCleanly()
    {
        Store(true, "pw");
        Config = TConfig();
        auto files = [] {
            QMap<QString, QByteArray> contents;
            for (const QString& name : QDir(AppPath()).entryList(QDir::Files)) {
                QFile file(AppPath() + name);
                if (file.open(QIODevice::ReadOnly))
                    contents[name] = file.readAll();
            }
            return contents;
        };
        const auto before = files();
        env->Responder.Answers << true;
        TFormMain form;
        QStringList captions;
        OnNextModal([&](QWidget* login) {
            captions << login->windowTitle();
            form.findChild<QAction*>("NClose")->trigger();
        });
        form.show();
        QCOMPARE(captions, QStringList{"先输入密码登录软件"});
        QCOMPARE(env->Responder.Texts(), QStringList{"确定要退出程序吗？"});
        QVERIFY(form.TerminateRequested());
        QCOMPARE(form.ExitCode(), 0);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(files(), before);
        // The end was asked of the message loop: running it ends at once.
        QTimer safetyNet;
        connect(&safetyNet, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        safetyNet.start(20000);
        QCOMPARE(QApplication::exec(), 0);
    }
};

JOTTEREL_TEST_MAIN(TestConfig)
#include "test_config.moc"
