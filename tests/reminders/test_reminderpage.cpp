#include "data/Clock.h"
#include "data/MD.h"
#include "reminders/HolidaySettings.h"
#include "reminders/ReminderPage.h"
#include "reminders/UntAlam.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>

// The reminder page on its own, over the widgets the main window would
// give it: the official schedules' notice and the dialog 节假日安排.

namespace {
// The page with its list made, as the main window gives it its tab and menu.
struct TPageFixture
{
    QWidget tab;
    QMenu menu;
    QAction add{"新建提醒"}, modify{"修改"}, remove{"删除"};
    TAlam alam;
    TReminderPage page{{&tab, &menu, &add, &modify, &remove}, alam};

    TPageFixture()
    {
        page.MakeControls();
        page.ShowStartupReminders();
    }
    QWidget* Notice() { return Find<QWidget>(&tab, "pnlHolidayNotice"); }
};

void AddWorkDayReminder()
{
    TAlam alam;
    alam.AlamTime = QTime(9, 0, 0);
    alam.ReDay = true;
    alam.Repeat = {rkWorkDays};
    alam.ReMark = "打卡";
    alam.InsertAlam();
}

QString WriteYear(const TTestEnv& env, int year)
{
    const QString path = env.Path(QString("%1.json").arg(year));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(QString(R"({"year": %1, "days": [{"name": "元旦", "date": "%1-01-01", "isOffDay": true}]})")
                   .arg(year)
                   .toUtf8());
    return path;
}
} // namespace

class TestReminderPage : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup()
    {
        env.reset();
        TClock::Release();
    }

    void holidayNotice_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<bool>("follower"); // a reminder of 法定工作日
        QTest::addColumn<bool>("shown");
        QTest::newRow("December, next year missing") << QDate(2026, 12, 31) << true << true;
        QTest::newRow("November") << QDate(2026, 11, 30) << true << false;
        QTest::newRow("no reminder follows it") << QDate(2026, 12, 1) << false << false;
        QTest::newRow("next year bundled") << QDate(2025, 12, 1) << true << false;
    }

    // From 1 December the page says once that next year's schedule is
    // missing, while reminders follow it: 知道了 keeps it away, also
    // when the page is made again at the next start.
    void holidayNotice()
    {
        QFETCH(QDate, today);
        QFETCH(bool, follower);
        QFETCH(bool, shown);
        TClock::Set(QDateTime(today, QTime(10, 0)));
        if (follower)
            AddWorkDayReminder();
        {
            TPageFixture fixture;
            QCOMPARE(!fixture.Notice()->isHidden(), shown);
            if (!shown)
                return;
            QVERIFY(
                Find<QLabel>(&fixture.tab, "labHolidayNotice")->text().startsWith("2027 年的法定节假日安排还没有导入"));
            QCOMPARE(fixture.page.List()->topLevelItem(0)->text(3), QString("2027 年安排未导入，暂按周一至周五"));
            Find<QPushButton>(&fixture.tab, "btnHolidayNoticeOk")->click();
            QVERIFY(fixture.Notice()->isHidden());
        }
        TPageFixture later;
        QVERIFY(later.Notice()->isHidden());
    }

    // 节假日安排 imports a year's file, which the reminders follow at once;
    // a refused file is said with its reason; an imported year can go again.
    void settingsImportAndRemoveAYear()
    {
        TClock::Set(QDateTime(QDate(2026, 12, 31), QTime(10, 0)));
        AddWorkDayReminder();
        TFormHolidaySettings dialog;
        auto* years = Find<QTreeWidget>(&dialog, "lvHolidayYears");
        QCOMPARE(years->topLevelItem(0)->text(1), QString("未导入，按周一至周五"));
        env->Responder.FileNames = {env->Path("none.json"), WriteYear(*env, 2027)};
        Find<QPushButton>(&dialog, "btnImportHolidays")->click();
        QVERIFY2(env->Responder.LastText().startsWith("无法读取"), qPrintable(env->Responder.LastText()));
        Find<QPushButton>(&dialog, "btnImportHolidays")->click();
        QCOMPARE(env->Responder.LastText(), QString("已导入 2027 年的节假日安排。"));
        QCOMPARE(years->topLevelItem(0)->text(1), QString("已导入"));
        TPageFixture fixture;
        QVERIFY(fixture.Notice()->isHidden());
        QCOMPARE(fixture.page.List()->topLevelItem(0)->text(3), QString());

        years->setCurrentItem(years->topLevelItem(0));
        env->Responder.Answers = {true};
        Find<QPushButton>(&dialog, "btnRemoveHolidays")->click();
        QCOMPARE(years->topLevelItem(0)->text(1), QString("未导入，按周一至周五"));
        QCOMPARE(DbGetIntValue("select count(*) from HolidayYear"), 0);
    }
};

JOTTEREL_TEST_MAIN(TestReminderPage)
#include "test_reminderpage.moc"
