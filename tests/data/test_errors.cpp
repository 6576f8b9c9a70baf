#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/Clock.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>

class TestErrors : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

    QString ReadLog(const QString& name)
    {
        QFile file(env->Path(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        TClock::Set(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 58)));
    }
    void cleanup() { env.reset(); }

    void handlerShowsEachKindOfFailure()
    {
        RunHandler([] { RaiseError("该名称已经存在，请重新输入！"); });
        RunHandler([] { throw EDBException("no such table: X", "数据库查询错误，请检查！", "select * from X"); });
        RunHandler([] { throw EDBException("disk full", "数据库备份失败！", ""); });
        RunHandler([] { Abort(); });
        const auto& shown = env->Responder.Shown;
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown[0].caption, QString("错误"));
        QCOMPARE(shown[0].text, QString("该名称已经存在，请重新输入！"));
        QCOMPARE(shown[1].text, QString("数据库查询错误，请检查！\r\n详细信息：no such table: X"));
        QCOMPARE(shown[2].text, QString("数据库备份失败！\r\n详细信息：disk full"));
        QCOMPARE(CardException().UserMessage, QString("数据库备份失败！"));
        // Only the error with a statement is logged.
        QCOMPARE(ReadLog("Log20261208.log"),
                 QString("2026-12-08 23:59:58：数据库查询错误，请检查！\r\n详细信息：no such table: X\r\n"
                         "select * from X\r\n"));
    }

    // The box shows the statement as the user typed it; the log keeps no
    // text of theirs, only how long each one was.
    void logHoldsNoTypedText_data()
    {
        QTest::addColumn<QString>("details");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("logged"); // the details' and the statement's lines as logged
        QTest::newRow("a note") << "database is locked"
                                << "insert into NoteBook(TypeID,ReMark) values (1,'银行卡密码是123456')"
                                << "database is locked\r\ninsert into NoteBook(TypeID,ReMark) values (1,'<12 个字符>')";
        QTest::newRow("quotes, separators and an empty text")
            << "no such table: X"
            << "update IE set IEName='it''s @#@ mine' where ID=3@#@delete from X where ReMark=''"
            << "no such table: X\r\nupdate IE set IEName='<13 个字符>' where ID=3@#@delete from X where ReMark=''";
        QTest::newRow("details quoting the statement")
            << "一次只能执行一条语句: update SysSet set [PassWord]='秘密'; select 1"
            << "update SysSet set [PassWord]='秘密'; select 1"
            << "一次只能执行一条语句: update SysSet set [PassWord]='<2 个字符>'; select 1\r\n"
               "update SysSet set [PassWord]='<2 个字符>'; select 1";
        QTest::newRow("unclosed text") << "unrecognized token: \"'abc\""
                                       << "select 'abc"
                                       << "unrecognized token: \"'<3 个字符>'\"\r\nselect '<3 个字符>'";
    }

    void logHoldsNoTypedText()
    {
        QFETCH(QString, details);
        QFETCH(QString, sql);
        QFETCH(QString, logged);
        ShowDbError("数据库操作失败！", details, sql);
        QCOMPARE(env->Responder.LastText(), "数据库操作失败！\r\n详细信息：" + details);
        QCOMPARE(ReadLog("Log20261208.log"), "2026-12-08 23:59:58：数据库操作失败！\r\n详细信息：" + logged + "\r\n");
    }

    void exceptionsEscapingAnEventReachTheHandler()
    {
        QTimer::singleShot(0, [] { RaiseError("from an event"); });
        QTRY_COMPARE(env->Responder.LastText(), QString("from an event"));
    }

    void logAppendsAndStartsANewFileEachDay()
    {
        WriteLog("one");
        WriteLog("two\r\nlines");
        TClock::Advance(3000);
        WriteLog("three");
        QCOMPARE(ReadLog("Log20261208.log"),
                 QString("2026-12-08 23:59:58：one\r\n2026-12-08 23:59:58：two\r\nlines\r\n"));
        QCOMPARE(ReadLog("Log20261209.log"), QString("2026-12-09 00:00:01：three\r\n"));
    }

    void unwritableLogStillShowsTheBox()
    {
        // A directory in place of the log file makes every write fail.
        QVERIFY(QDir(env->Dir.path()).mkdir("Log20261208.log"));
        ShowDbError("数据库操作失败！", "locked", "delete from IE");
        QCOMPARE(env->Responder.Shown.size(), 1);
        QVERIFY(QFileInfo(env->Path("Log20261208.log")).isDir());
    }

    void messageBoxesHaveTheirCaptionsAndIcons()
    {
        SetDialogResponder(nullptr);
        struct TCase
        {
            std::function<void()> show;
            QString caption;
            QMessageBox::Icon icon;
        };
        const QList<TCase> cases = {{[] { ShowInfo("i"); }, "提示", QMessageBox::Information},
                                    {[] { ShowError("e"); }, "错误", QMessageBox::Critical},
                                    {[] { AskYesNo("q"); }, "确认", QMessageBox::Question}};
        for (const TCase& c : cases) {
            QString caption;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            OnNextModal([&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box);
                caption = box->windowTitle();
                icon = box->icon();
                box->done(QMessageBox::Ok);
            });
            c.show();
            QCOMPARE(caption, c.caption);
            QCOMPARE(icon, c.icon);
        }
        SetDialogResponder(&env->Responder);
    }

    void enterInAQuestionAnswersNo()
    {
        SetDialogResponder(nullptr);
        OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
        QCOMPARE(AskYesNo("确定要退出程序吗？"), false);
        OnNextModal([](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            box->button(QMessageBox::Yes)->click();
        });
        QCOMPARE(AskYesNo("确定要退出程序吗？"), true);
        SetDialogResponder(&env->Responder);
    }
};

JOTTEREL_TEST_MAIN(TestErrors)
#include "test_errors.moc"
