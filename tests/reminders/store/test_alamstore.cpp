#include "data/Clock.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "data/Schema.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "reminders/UntAlam.h"
#include "support/StoreTest.h"

#include <memory>
#include <sqlite3.h>

// The reminder store: its statements, the six filters of the list and the
// marking of missed rows, in the program's locale and in one with two-digit
// years.

Q_DECLARE_METATYPE(TAlamRepeat)

namespace {
// The store these tests read and write, as a page or dialog would be handed it.
TAlam Alam;
} // namespace

namespace {
QDateTime At(const QDate& day, int h, int m, int s, int ms = 0)
{
    return QDateTime(day, QTime(h, m, s, ms));
}

const QDate kDay(2026, 12, 7);

void AddReminder(const QTime& time, const QDate& date, bool daily, const QString& text)
{
    Alam.AlamTime = time;
    Alam.AlamDate = date;
    Alam.ReDay = daily;
    Alam.ReMark = text;
    Alam.InsertAlam();
}

// Six reminders around the night after kDay: 1 daily; 2 tomorrow morning;
// 3 late tonight; 4 this morning, seen; 5 made daily by a change, seen;
// 6 at tomorrow's midnight.
void AddNightReminders()
{
    TClock::Set(At(kDay, 7, 0, 0));
    AddReminder(QTime(8, 30, 0), kDay, true, "起床");
    AddReminder(QTime(9, 15, 0), kDay.addDays(1), false, "开会");
    AddReminder(QTime(23, 59, 30), kDay, false, "错过");
    AddReminder(QTime(10, 0, 0), kDay, false, "看过");
    Alam.MarkAlamSeen("4");
    AddReminder(QTime(12, 0, 0), kDay.addDays(3), false, "改成每天");
    Alam.AlamTime = QTime(18, 0, 0);
    Alam.AlamDate = QDate(1981, 2, 14);
    Alam.ReDay = true;
    Alam.ReMark = "散步";
    Alam.UpdateAlam("5");
    Alam.MarkAlamSeen("5");
    AddReminder(QTime(0, 0, 0), kDay.addDays(1), false, "午夜");
}

QStringList Rows(const QList<QStringList>& list)
{
    QStringList rows;
    for (const QStringList& row : list)
        rows << row.join('|');
    return rows;
}

const QString r1 = "1|每天  08:30:00|起床|";
const QString r2 = "2|2026-12-08 09:15:00|开会|";
const QString r3 = "3|2026-12-07 23:59:30|错过|";
const QString r3missed = "3|2026-12-07 23:59:30|错过|错过的";
const QString r4 = "4|2026-12-07 10:00:00|看过|看过的";
const QString r5 = "5|每天  18:00:00|散步|看过的";
const QString r6 = "6|2026-12-08 00:00:00|午夜|";
const QString r6missed = "6|2026-12-08 00:00:00|午夜|错过的";
} // namespace

class TestAlamStore : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

private slots:
    void init()
    {
        env = std::make_unique<TStoreEnv>();
        Alam.WeekDays = kEveryDay;
        Alam.Repeat = {};
    }
    void cleanup()
    {
        env.reset();
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    }

    void statementsAreBuiltAsTyped();
    void datesKeepTheirCenturyInEveryLocale_data();
    void datesKeepTheirCenturyInEveryLocale();
    void filters_data();
    void filters();
    void failingListRaises();
    void loadReadsTheRow_data();
    void loadReadsTheRow();
    void updateMakesTheReminderUnseen();
    void idMustBeANumber_data();
    void idMustBeANumber();
    void weekdayRulesOverAWeek_data();
    void weekdayRulesOverAWeek();
    void versionOneFileFiresAsBefore();
    void oneOffStatus_data();
    void oneOffStatus();
    void newRepeatsInTheList_data();
    void newRepeatsInTheList();
    void changedBackToDailyForgetsTheRepeat();
    void agendaListsWhatFiresInOrder();
};

void TestAlamStore::statementsAreBuiltAsTyped()
{
    const QString t = TimeText(QTime(8, 30, 0));
    const QString d = DateText(QDate(2026, 12, 8));
    AddReminder(QTime(8, 30, 0), QDate(2026, 12, 8), true, "起床");
    QCOMPARE(Alam.LastSQL, "Insert into Alam(AlamTime,ReMark)  values('" + t + "','起床') ");
    // The daily reminder's row names neither ReDay nor bLook: it takes
    // "daily" (-1) and "unseen" (0) from the column defaults.
    DbAccess->OpenQuery("select ReDay,bLook,AlamDate from Alam where ID=1");
    QCOMPARE(DbAccess->QuerySet->AsInteger("ReDay"), -1);
    QCOMPARE(DbAccess->QuerySet->AsInteger("bLook"), 0);
    QVERIFY(DbAccess->QuerySet->Value("AlamDate").isNull());
    AddReminder(QTime(8, 30, 0), QDate(2026, 12, 8), false, "开会");
    QCOMPARE(Alam.LastSQL,
             "Insert into Alam(AlamTime,AlamDate,ReDay,ReMark)  values('" + t + "','" + d + "','0','开会') ");
    Alam.ReDay = true;
    Alam.UpdateAlam("2");
    QCOMPARE(Alam.LastSQL, "update Alam set AlamTime='" + t + "',AlamDate='" + d +
                               "',ReDay='-1',Remark='开会',bLook=0,WeekDays=0,SnoozeAt=NULL where ID=2  ");
    Alam.MarkAlamSeen("1");
    QCOMPARE(Alam.LastSQL, QString("update Alam set bLook=1 where ID=1"));
    Alam.LoadAlam("1");
    QCOMPARE(Alam.LastSQL, QString("select * from Alam where ID=1 "));
    Alam.DeleteAlam("1");
    QCOMPARE(Alam.LastSQL, QString("delete from Alam where ID=1 "));
    QCOMPARE(TAlam::ListSQL(afMissed),
             QString("select ID,IIf(ReDay,'每天  '+format(Alamtime,'HH:mm:ss'),format(Alamtime+AlamDate,'yyyy-mm-dd "
                     "HH:mm:ss')) ,  "
                     "Remark,IIF(bLook,'看过的',''),ReDay,WeekDays,AlamTime,AlamDate,SnoozeAt,RepeatKind,RepeatMonth,"
                     "RepeatDay,AdvanceDays from Alam "
                     "where AlamDate+AlamTime<Now() and bLook=0 and ReDay = 0 "));
}

void TestAlamStore::datesKeepTheirCenturyInEveryLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("dateInStatement");
    QTest::newRow("zh_CN") << "zh_CN"
                           << "2031/5/6";
    QTest::newRow("en_US (M/d/yy)") << "en_US"
                                    << "5/6/2031";
    QTest::newRow("de_DE (dd.MM.yy)") << "de_DE"
                                      << "06.05.2031";
}

void TestAlamStore::datesKeepTheirCenturyInEveryLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, dateInStatement);
    QLocale::setDefault(QLocale(locale));
    TClock::Set(At(QDate(2031, 5, 6), 9, 0, 0));
    AddReminder(QTime(21, 45, 10), QDate(2031, 5, 6), false, "x");
    QVERIFY2(Alam.LastSQL.contains("'" + dateInStatement + "'"), qPrintable(Alam.LastSQL));
    QCOMPARE(Rows(Alam.LoadAlamList(afToday)), QStringList{"1|2031-05-06 21:45:10|x|"});
    Alam.LoadAlam("1");
    QCOMPARE(Alam.AlamDate, QDate(2031, 5, 6));
    QCOMPARE(Alam.AlamTime, QTime(21, 45, 10));
}

void TestAlamStore::filters_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<int>("filter");
    QTest::addColumn<QStringList>("rows");

    const QDateTime before = At(kDay, 23, 59, 59, 500);
    const QDateTime after = At(kDay.addDays(1), 0, 0, 1);
    QTest::newRow("today, before midnight") << before << int(afToday) << QStringList{r3missed, r4};
    QTest::newRow("today, after midnight") << after << int(afToday) << QStringList{r2, r6missed};
    QTest::newRow("tomorrow, before midnight") << before << int(afTomorrow) << QStringList{r2, r6};
    QTest::newRow("tomorrow, after midnight") << after << int(afTomorrow) << QStringList{};
    QTest::newRow("missed, before midnight") << before << int(afMissed) << QStringList{r3missed};
    QTest::newRow("missed, after midnight") << after << int(afMissed) << QStringList{r3missed, r6missed};
    QTest::newRow("seen") << after << int(afSeen) << QStringList{r4};
    QTest::newRow("daily") << after << int(afDaily) << QStringList{r1, r5};
    QTest::newRow("all, before midnight") << before << int(afAll) << QStringList{r1, r2, r3missed, r4, r5, r6};
    QTest::newRow("all, after midnight") << after << int(afAll) << QStringList{r1, r2, r3missed, r4, r5, r6missed};
    // The marking pass compares to the millisecond: 23:59:30 has not passed at 23:59:30.000.
    QTest::newRow("at the reminder's own second") << At(kDay, 23, 59, 30) << int(afToday) << QStringList{r3, r4};
}

void TestAlamStore::filters()
{
    QFETCH(QDateTime, now);
    QFETCH(int, filter);
    QFETCH(QStringList, rows);
    AddNightReminders();
    TClock::Set(now);
    QCOMPARE(Rows(Alam.LoadAlamList(AlamFilter(filter))), rows);
    // The marking is for the eyes only.
    QCOMPARE(DbGetIntValue("select count(*) from Alam where bLook<>0"), 2);
}

void TestAlamStore::failingListRaises()
{
    DbExecSQL("drop table Alam");
    try {
        Alam.LoadAlamList(afToday);
        QFAIL("no database error");
    } catch (const EDBException& error) {
        QCOMPARE(error.UserMessage, QString("数据库查询错误，请检查！"));
        QCOMPARE(error.SQLText, Alam.LastSQL);
    }
}

void TestAlamStore::loadReadsTheRow_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<bool>("daily");
    QTest::addColumn<QString>("text");
    QTest::newRow("one-off") << "2" << QTime(9, 15, 0) << QDate(2026, 12, 8) << false << "开会";
    QTest::newRow("daily as added") << "1" << QTime(8, 30, 0) << QDate(1899, 12, 30) << true << "起床";
    QTest::newRow("daily after a change") << "5" << QTime(18, 0, 0) << QDate(1981, 2, 14) << true << "散步";
    QTest::newRow("missing row") << "99" << QTime(0, 0, 0) << QDate(1899, 12, 30) << false << "";
}

void TestAlamStore::loadReadsTheRow()
{
    QFETCH(QString, id);
    QFETCH(QTime, time);
    QFETCH(QDate, date);
    QFETCH(bool, daily);
    QFETCH(QString, text);
    AddNightReminders();
    Alam.LoadAlam(id);
    QCOMPARE(Alam.AlamTime, time);
    QCOMPARE(Alam.AlamDate, date);
    QCOMPARE(Alam.ReDay, daily);
    QCOMPARE(Alam.ReMark, text);
}

void TestAlamStore::updateMakesTheReminderUnseen()
{
    AddNightReminders();
    Alam.LoadAlam("4");
    Alam.UpdateAlam("4");
    TClock::Set(At(kDay, 9, 0, 0));
    QCOMPARE(Rows(Alam.LoadAlamList(afSeen)), QStringList{});
    QCOMPARE(Rows(Alam.LoadAlamList(afToday)),
             (QStringList{"3|2026-12-07 23:59:30|错过|", "4|2026-12-07 10:00:00|看过|"}));
}

void TestAlamStore::idMustBeANumber_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("statement") << "1 or 1=1";
    QTest::newRow("empty") << "";
    QTest::newRow("text") << "abc";
}

void TestAlamStore::idMustBeANumber()
{
    QFETCH(QString, id);
    AddNightReminders();
    QVERIFY_THROWS_EXCEPTION(EError, Alam.DeleteAlam(id));
    QVERIFY_THROWS_EXCEPTION(EError, Alam.MarkAlamSeen(id));
    QVERIFY_THROWS_EXCEPTION(EError, Alam.UpdateAlam(id));
    QCOMPARE(DbGetIntValue("select count(*) from Alam"), 6);
    QCOMPARE(DbGetIntValue("select count(*) from Alam where bLook<>0"), 2);
}

void TestAlamStore::weekdayRulesOverAWeek_data()
{
    QTest::addColumn<int>("weekDays");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("days"); // after kDay, a Monday
    QTest::newRow("every day, as before") << 0 << "每天" << QList<int>{0, 1, 2, 3, 4, 5, 6};
    QTest::newRow("all seven ticked") << 0x7f << "每天" << QList<int>{0, 1, 2, 3, 4, 5, 6};
    QTest::newRow("工作日") << 0x1f << "周一至周五" << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("Monday, Wednesday, Friday") << 0x15 << "每周一、三、五" << QList<int>{0, 2, 4};
    QTest::newRow("Tuesday to Thursday") << 0x0e << "周二至周四" << QList<int>{1, 2, 3};
    QTest::newRow("two in a row are no range") << 0x03 << "每周一、二" << QList<int>{0, 1};
    QTest::newRow("the weekend") << 0x60 << "每周六、日" << QList<int>{5, 6};
    QTest::newRow("Sunday only") << 0x40 << "每周日" << QList<int>{6};
}

// A repeating reminder fires on its days only, over a week and the day
// after; its list row names the days.
void TestAlamStore::weekdayRulesOverAWeek()
{
    QFETCH(int, weekDays);
    QFETCH(QString, text);
    QFETCH(QList<int>, days);
    TClock::Set(At(kDay, 7, 0, 0));
    Alam.WeekDays = weekDays;
    AddReminder(QTime(8, 30, 0), kDay, true, "晨练");
    QCOMPARE(Rows(Alam.LoadAlamList(afDaily)), QStringList{"1|" + text + "  08:30:00|晨练|"});
    QList<int> fired;
    for (const TDueAlam& due : Alam.DueBetween(At(kDay, 0, 0, 0).toSecsSinceEpoch(),
                                               At(kDay.addDays(7), 23, 59, 59).toSecsSinceEpoch(), false)) {
        QCOMPARE(due.Moment.time(), QTime(8, 30, 0));
        QVERIFY(due.Daily);
        fired << int(kDay.daysTo(due.Moment.date()));
    }
    if (days.contains(0))
        days << 7;
    QCOMPARE(fired, days);
    Alam.LoadAlam("1");
    QCOMPARE(Alam.WeekDays, text == "每天" ? 0 : weekDays);
}

// A file of the first version, with a daily and a one-off reminder, opens
// upgraded: the rows read and fire as before, and no checked second is
// stored yet, so the first start shows nothing missed.
void TestAlamStore::versionOneFileFiresAsBefore()
{
    const QString old = env->Path("old.dat");
    {
        sqlite3* raw = nullptr;
        QCOMPARE(sqlite3_open(old.toUtf8().constData(), &raw), SQLITE_OK);
        TDbHandle db(raw);
        ExecNative(raw, DatabaseSchema());
        ExecNative(raw, QString("INSERT INTO Alam(AlamTime,ReMark) VALUES (%1,'起床');"
                                "INSERT INTO Alam(AlamTime,AlamDate,ReDay,ReMark) VALUES (%2,%3,0,'开会');")
                            .arg(Ole::FromTime(QTime(8, 30, 0)), 0, 'g', 17)
                            .arg(Ole::FromTime(QTime(15, 0, 0)), 0, 'g', 17)
                            .arg(Ole::FromDate(kDay), 0, 'g', 17));
    }
    DbRestore(old);
    QCOMPARE(SchemaVersion(DbAccess->Handle()), CurrentSchemaVersion());
    QCOMPARE(Alam.LastCheckedSecond(), std::nullopt);
    TClock::Set(At(kDay, 7, 0, 0));
    QCOMPARE(Rows(Alam.LoadAlamList(afAll)), (QStringList{"1|每天  08:30:00|起床|", "2|2026-12-07 15:00:00|开会|"}));
    const auto fired = [](const QDate& day, bool missed) {
        QStringList firings;
        for (const TDueAlam& due :
             Alam.DueBetween(At(day, 0, 0, 0).toSecsSinceEpoch(), At(day, 23, 59, 59).toSecsSinceEpoch(), missed))
            firings << due.Id + "@" + due.Moment.toString("HH:mm:ss");
        return firings;
    };
    QCOMPARE(fired(kDay, false), (QStringList{"1@08:30:00", "2@15:00:00"}));
    QCOMPARE(fired(kDay.addDays(1), false), QStringList{"1@08:30:00"});
    Alam.MarkAlamSeen("2");
    QCOMPARE(fired(kDay, true), QStringList{"1@08:30:00"});
    Alam.StoreLastCheckedSecond(12345);
    QCOMPARE(Alam.LastCheckedSecond(), 12345);
}

void TestAlamStore::oneOffStatus_data()
{
    QTest::addColumn<QDateTime>("snoozeAt"); // invalid: not snoozed
    QTest::addColumn<bool>("seen");
    QTest::addColumn<bool>("onScreen"); // its alert is open
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("missed");
    const QDateTime none;
    const QDateTime snooze = At(kDay, 23, 55, 0);
    // The reminder is due at 23:50.
    QTest::newRow("not due yet") << none << false << false << At(kDay, 23, 49, 59) << "" << false;
    QTest::newRow("past, unanswered") << none << false << false << At(kDay, 23, 50, 1) << "错过的" << true;
    QTest::newRow("past, its alert on screen") << none << false << true << At(kDay, 23, 51, 0) << "" << false;
    QTest::newRow("past, seen") << none << true << false << At(kDay, 23, 51, 0) << "看过的" << false;
    QTest::newRow("snoozed, pending") << snooze << false << false << At(kDay, 23, 52, 0) << "稍后 23:55" << false;
    QTest::newRow("snoozed past midnight")
        << At(kDay.addDays(1), 0, 20, 0) << false << false << At(kDay, 23, 52, 0) << "稍后 明天 00:20" << false;
    QTest::newRow("snooze passed, unanswered") << snooze << false << false << At(kDay, 23, 56, 0) << "错过的" << true;
    QTest::newRow("snooze passed, its alert on screen")
        << snooze << false << true << At(kDay, 23, 55, 30) << "" << false;
    QTest::newRow("snoozed, then seen") << snooze << true << false << At(kDay, 23, 56, 0) << "看过的" << false;
}

// A one-off reminder keeps its own time when snoozed and fires once more at
// the snooze; it is missed only once everything has passed unanswered and
// no alert of it is open: then it is listed red and under 错过的提醒.
void TestAlamStore::oneOffStatus()
{
    QFETCH(QDateTime, snoozeAt);
    QFETCH(bool, seen);
    QFETCH(bool, onScreen);
    QFETCH(QDateTime, now);
    QFETCH(QString, status);
    QFETCH(bool, missed);
    TClock::Set(At(kDay, 23, 0, 0));
    AddReminder(QTime(23, 50, 0), kDay, false, "x");
    if (snoozeAt.isValid())
        Alam.SnoozeAlams({"1"}, snoozeAt);
    if (seen)
        Alam.MarkAlamSeen("1");
    TClock::Set(now);
    const QStringList alerts = onScreen ? QStringList{"1"} : QStringList{};
    QCOMPARE(Rows(Alam.LoadAlamList(afAll, nullptr, alerts)), QStringList{"1|2026-12-07 23:50:00|x|" + status});
    QCOMPARE(Alam.LoadAlamList(afMissed, nullptr, alerts).size(), missed ? 1 : 0);
    // The missed window after a gap since 23:00 lists it alike (it opens no alert).
    const qint64 gapFrom = At(kDay, 23, 0, 0).toSecsSinceEpoch();
    QCOMPARE(Alam.DueBetween(gapFrom, now.toSecsSinceEpoch() - 1, true).size(), missed || onScreen ? 1 : 0);
    if (!snoozeAt.isValid())
        return;
    const QList<TDueAlam> fired = Alam.DueBetween(snoozeAt.toSecsSinceEpoch(), snoozeAt.toSecsSinceEpoch(), false);
    QCOMPARE(fired.size(), 1);
    QVERIFY(!fired[0].Daily);
}

void TestAlamStore::newRepeatsInTheList_data()
{
    QTest::addColumn<TAlamRepeat>("repeat");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("row");  // time text | status, under 全部提醒
    QTest::addColumn<QString>("days"); // "T": under 今天的提醒, "M": under 明天的提醒
    QTest::addColumn<QDateTime>("due");
    QTest::newRow("法定工作日 into a year not imported")
        << TAlamRepeat{rkWorkDays} << QTime(9, 0, 0) << At(QDate(2026, 12, 31), 10, 0, 0)
        << "法定工作日  09:00:00|2027 年安排未导入，暂按周一至周五"
        << "TM" << At(QDate(2027, 1, 1), 9, 0, 0);
    QTest::newRow("法定休息日 before the National Day")
        << TAlamRepeat{rkRestDays} << QTime(9, 0, 0) << At(QDate(2026, 9, 30), 10, 0, 0) << "法定休息日  09:00:00|"
        << "M" << At(QDate(2026, 10, 1), 9, 0, 0);
    QTest::newRow("每月最后一天 in February") << TAlamRepeat{rkMonthly, 0, kLastDayOfMonth} << QTime(8, 0, 0)
                                              << At(QDate(2027, 2, 27), 9, 0, 0) << "每月最后一天  08:00:00|"
                                              << "M" << At(QDate(2027, 2, 28), 8, 0, 0);
    QTest::newRow("中秋") << TAlamRepeat{rkLunar, 8, 15} << QTime(9, 0, 0) << At(QDate(2026, 9, 24), 12, 0, 0)
                          << "每年农历八月十五  09:00:00|"
                          << "M" << At(QDate(2026, 9, 25), 9, 0, 0);
    QTest::newRow("春节 a day early, on 除夕")
        << TAlamRepeat{rkLunar, 1, 1, 1} << QTime(20, 0, 0) << At(QDate(2026, 2, 16), 8, 0, 0)
        << "每年农历正月初一，提前1天  20:00:00|"
        << "T" << At(QDate(2026, 2, 16), 20, 0, 0);
    QTest::newRow("29 February, passed today") << TAlamRepeat{rkYearly, 2, 29} << QTime(9, 0, 0)
                                               << At(QDate(2027, 2, 28), 10, 0, 0) << "每年2月29日  09:00:00|"
                                               << "T" << At(QDate(2028, 2, 29), 9, 0, 0);
}

// The repeats beyond 每天 and 每周 are listed with their names, under the
// day they fire on and under 每天的提醒, never missed; the tick fires them
// on their day.
void TestAlamStore::newRepeatsInTheList()
{
    QFETCH(TAlamRepeat, repeat);
    QFETCH(QTime, time);
    QFETCH(QDateTime, now);
    QFETCH(QString, row);
    QFETCH(QString, days);
    QFETCH(QDateTime, due);
    TClock::Set(now.addDays(-400));
    Alam.Repeat = repeat;
    AddReminder(time, QDate(), true, "x");
    Alam.Repeat = {};
    TClock::Set(now);
    QList<QDateTime> nextDue;
    QCOMPARE(Rows(Alam.LoadAlamList(afAll, &nextDue)), QStringList{"1|" + row.replace('|', "|x|")});
    QCOMPARE(nextDue, QList<QDateTime>{due});
    QCOMPARE(Alam.LoadAlamList(afToday).size(), days.contains('T') ? 1 : 0);
    QCOMPARE(Alam.LoadAlamList(afTomorrow).size(), days.contains('M') ? 1 : 0);
    QCOMPARE(Alam.LoadAlamList(afDaily).size(), 1);
    QCOMPARE(Alam.LoadAlamList(afMissed).size() + Alam.LoadAlamList(afSeen).size(), 0);
    const QList<TDueAlam> fired = Alam.DueBetween(now.toSecsSinceEpoch(), now.addDays(400).toSecsSinceEpoch(), false);
    QVERIFY(!fired.isEmpty());
    QCOMPARE(fired.first().Moment, due);
    QVERIFY(fired.first().Daily);
    Alam.LoadAlam("1");
    QCOMPARE(Alam.Repeat, repeat);
}

// A repeat that is changed into one of the first kinds is gone with the
// change, though the statement for them names none.
void TestAlamStore::changedBackToDailyForgetsTheRepeat()
{
    Alam.Repeat = {rkLunar, 8, 15, 1};
    AddReminder(QTime(9, 0, 0), QDate(), true, "中秋");
    Alam.Repeat = {};
    Alam.UpdateAlam("1");
    Alam.LoadAlam("1");
    QCOMPARE(Alam.Repeat, TAlamRepeat());
    QCOMPARE(DbGetIntValue("select RepeatKind+RepeatMonth+RepeatDay+AdvanceDays from Alam"), 0);
    Alam.Repeat = {rkYearly, 2, 30};
    QCOMPARE(ErrorOf([] { Alam.UpdateAlam("1"); }), QString("没有2月30日这一天。"));
}

// The agenda: every firing from now on for the days, oldest first, one
// line each with the day, the clock and the text on one line.
void TestAlamStore::agendaListsWhatFiresInOrder()
{
    const QDate friday(2026, 9, 18);
    TClock::Set(At(friday, 8, 0, 0));
    Alam.WeekDays = kWorkDays;
    AddReminder(QTime(8, 30, 0), QDate(), true, "站会");
    Alam.WeekDays = kEveryDay;
    Alam.Repeat = {rkWorkDays};
    AddReminder(QTime(9, 0, 0), QDate(), true, "打卡");
    Alam.Repeat = {};
    AddReminder(QTime(7, 0, 0), friday, false, "已过");
    AddReminder(QTime(20, 15, 30), friday.addDays(1), false, "看\n电影");
    Alam.SnoozeAlams({"3"}, At(friday, 10, 0, 0));
    Alam.Repeat = {rkLunar, 8, 15, 3}; // 中秋 2026 is 25 September
    AddReminder(QTime(7, 30, 0), QDate(), true, "买月饼");
    Alam.Repeat = {};
    const QStringList expected{
        "2026-09-18 周五 08:30\t站会",       "2026-09-18 周五 09:00\t打卡", "2026-09-18 周五 10:00\t已过",
        "2026-09-19 周六 20:15:30\t看 电影",
        "2026-09-20 周日 09:00\t打卡", // a Sunday worked
        "2026-09-21 周一 08:30\t站会",       "2026-09-21 周一 09:00\t打卡", "2026-09-22 周二 07:30\t3 天后：买月饼",
    };
    QCOMPARE(Alam.Agenda(At(friday, 8, 0, 0), 4), expected);
    // 3 October: a Saturday of the National Day holiday.
    QCOMPARE(Alam.Agenda(At(QDate(2026, 10, 3), 0, 0, 0), 1), QStringList{});
}

JOTTEREL_STORE_TEST_MAIN(TestAlamStore)
#include "test_alamstore.moc"
