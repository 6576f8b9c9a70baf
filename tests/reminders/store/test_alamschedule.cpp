#include "data/Clock.h"
#include "data/MD.h"
#include "reminders/AlamSchedule.h"
#include "reminders/UntAlam.h"
#include "support/StoreTest.h"

#include <memory>
#include <sqlite3.h>

// The reminder clock's rules: which seconds a tick covers and what it finds
// due or missed, across gaps, clocks set back or forward, and restarts.

namespace {
TAlam Alam;
const QDate kDay(2026, 12, 7); // a Monday

QDateTime At(const QDate& day, int h, int m, int s, int ms = 0)
{
    return QDateTime(day, QTime(h, m, s, ms));
}

// A reminder to create before the ticks.
struct TPlan
{
    QTime time;
    QDate date; // invalid: repeating
    bool seen = false;
    int weekDays = kEveryDay;
    QTime snooze = {}; // on kDay, when valid
};

// The reminder with the ID, its text named after it.
void AddReminder(const TPlan& plan, const QString& id)
{
    Alam.AlamTime = plan.time;
    Alam.AlamDate = plan.date.isValid() ? plan.date : kDay;
    Alam.ReDay = !plan.date.isValid();
    Alam.WeekDays = plan.weekDays;
    Alam.ReMark = "提醒" + id;
    Alam.InsertAlam();
    if (plan.seen)
        Alam.MarkAlamSeen(id);
    if (plan.snooze.isValid())
        Alam.SnoozeAlams({id}, QDateTime(kDay, plan.snooze));
}
} // namespace

using Plans = QList<TPlan>;
using Moments = QList<QDateTime>;
using Ids = QStringList;

class TestAlamSchedule : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    void ticksFindEachSecondOnce_data();
    void ticksFindEachSecondOnce();
    void failedCollectionLosesNothing();
};

void TestAlamSchedule::ticksFindEachSecondOnce_data()
{
    QTest::addColumn<Plans>("plans");
    QTest::addColumn<Moments>("ticks");
    QTest::addColumn<QStringList>("due");
    QTest::addColumn<QStringList>("missed");

    const QDate tomorrow = kDay.addDays(1);
    const QStringList none;
    const QTime nine(9, 15, 0);
    QTest::newRow("one-off at its second")
        << Plans{{nine, kDay}} << Moments{At(kDay, 9, 14, 59, 500), At(kDay, 9, 15, 0, 500), At(kDay, 9, 15, 1, 500)}
        << Ids{"1"} << none;
    QTest::newRow("one-off not on another day")
        << Plans{{nine, kDay}} << Moments{At(tomorrow, 9, 14, 59, 900), At(tomorrow, 9, 15, 0, 200)} << none << none;
    QTest::newRow("daily every day, seen or not")
        << Plans{{QTime(8, 30, 0), {}, true}}
        << Moments{At(kDay, 8, 30, 0, 100), At(tomorrow, 8, 29, 59, 900), At(tomorrow, 8, 30, 0, 900)} << Ids{"1", "1"}
        << none;
    QTest::newRow("seen one-off still fires on its second")
        << Plans{{nine, kDay, true}} << Moments{At(kDay, 9, 15, 0)} << Ids{"1"} << none;
    QTest::newRow("two in one second") << Plans{{nine, kDay}, {nine, {}}, {nine, tomorrow}}
                                       << Moments{At(kDay, 9, 14, 59, 999), At(kDay, 9, 15, 0, 1)} << Ids{"1", "2"}
                                       << none;
    QTest::newRow("late tick fires the skipped second")
        << Plans{{QTime(10, 0, 1), kDay}} << Moments{At(kDay, 10, 0, 0, 999), At(kDay, 10, 0, 2, 1)} << Ids{"1"}
        << none;
    QTest::newRow("early tick: two in one second fire once")
        << Plans{{QTime(10, 0, 1), kDay}}
        << Moments{At(kDay, 10, 0, 0, 950), At(kDay, 10, 0, 1, 100), At(kDay, 10, 0, 1, 900), At(kDay, 10, 0, 2, 0)}
        << Ids{"1"} << none;
    QTest::newRow("tick 60 s late still catches up")
        << Plans{{QTime(10, 0, 30), kDay}} << Moments{At(kDay, 10, 0, 0, 500), At(kDay, 10, 1, 0, 500)} << Ids{"1"}
        << none;
    QTest::newRow("first tick covers its own second only") << Plans{{QTime(9, 59, 59), kDay}, {QTime(10, 0, 0), {}}}
                                                           << Moments{At(kDay, 10, 0, 0, 300)} << Ids{"2"} << none;
    QTest::newRow("late tick across midnight reads each second's day")
        << Plans{{QTime(23, 59, 59), kDay},
                 {QTime(0, 0, 0), tomorrow},
                 {QTime(23, 59, 59), tomorrow},
                 {QTime(0, 0, 0), kDay}}
        << Moments{At(kDay, 23, 59, 58, 500), At(tomorrow, 0, 0, 0, 500)} << Ids{"1", "2"} << none;
    QTest::newRow("clock set back a little repeats nothing")
        << Plans{{QTime(10, 0, 1), {}}}
        << Moments{At(kDay, 10, 0, 1, 500), At(kDay, 9, 59, 59, 500), At(kDay, 10, 0, 1, 200), At(kDay, 10, 0, 2)}
        << Ids{"1"} << none;
    QTest::newRow("gap over the catch-up window")
        << Plans{{QTime(10, 0, 30), kDay}, {QTime(10, 1, 1), kDay}}
        << Moments{At(kDay, 10, 0, 0, 500), At(kDay, 10, 1, 1, 500)} << Ids{"2"} << Ids{"1"};
    QTest::newRow("sleep across midnight")
        << Plans{{QTime(23, 30, 0), {}},  {QTime(0, 30, 0), tomorrow}, {QTime(0, 10, 0), tomorrow, true},
                 {QTime(22, 0, 0), kDay}, {QTime(2, 0, 0), tomorrow},  {QTime(0, 20, 0), {}, false, 0x40}}
        << Moments{At(kDay, 23, 0, 0), At(kDay, 23, 0, 1), At(tomorrow, 1, 0, 0), At(tomorrow, 1, 0, 1)} << none
        << Ids{"1", "2"};
    QTest::newRow("clock put forward: the skipped ones missed, the current second fires")
        << Plans{{QTime(10, 30, 0), kDay}, {QTime(12, 0, 0), kDay}, {QTime(11, 0, 0), {}}}
        << Moments{At(kDay, 10, 0, 0), At(kDay, 12, 0, 0, 100)} << Ids{"2"} << Ids{"1", "3"};
    QTest::newRow("clock set back an hour fires nothing twice")
        << Plans{{QTime(9, 30, 0), {}}, {QTime(9, 0, 0), {}}}
        << Moments{At(kDay, 9, 30, 0, 500), At(kDay, 8, 30, 0), At(kDay, 9, 0, 0, 500),
                   At(kDay, 9, 30, 0, 600), At(kDay, 9, 30, 1), At(kDay, 9, 30, 2)}
        << Ids{"1"} << none;
    QTest::newRow("clock set back over a day starts over")
        << Plans{{QTime(9, 30, 0), {}}}
        << Moments{At(kDay.addDays(2), 9, 30, 0, 500), At(kDay, 9, 29, 59, 500), At(kDay, 9, 30, 0, 500)}
        << Ids{"1", "1"} << none;
    QTest::newRow("a repeating one missed on several days is listed once")
        << Plans{{QTime(8, 0, 0), {}}} << Moments{At(kDay, 7, 0, 0), At(kDay.addDays(3), 9, 0, 0)} << none << Ids{"1"};
    QTest::newRow("weekdays: fires on its days only, missed only on them")
        << Plans{{QTime(8, 0, 0), {}, false, 0x02},
                 {QTime(8, 0, 0), {}, false, 0x01},
                 {QTime(9, 0, 0), {}, false, 0x20}}
        << Moments{At(kDay, 7, 59, 59, 500),   At(kDay, 8, 0, 0, 500), At(tomorrow, 7, 59, 59, 500),
                   At(tomorrow, 8, 0, 0, 500), At(tomorrow, 9, 0, 0),  At(kDay.addDays(4), 10, 0, 0)}
        << Ids{"2", "1"} << none;
    QTest::newRow("weekdays over a gap of a week")
        << Plans{{QTime(9, 0, 0), {}, false, 0x20}, {QTime(9, 0, 0), {}, false, 0x01}}
        << Moments{At(kDay, 10, 0, 0), At(kDay.addDays(6), 8, 0, 0)} << none << Ids{"1"};
    QTest::newRow("a gap holding nothing due finds nothing")
        << Plans{{QTime(12, 0, 0), kDay}} << Moments{At(kDay, 9, 0, 0), At(kDay, 11, 0, 0)} << none << none;

    // The program runs until 10:01 and starts again after some minutes (an
    // invalid tick, a new schedule): the checked second and the snooze are in the file, so
    // the start finds what fell due meanwhile. Due at 10:00, and, snoozed,
    // once more at 10:10; the next day a daily one fires as always.
    const auto reminder = [](bool daily, bool snooze) {
        return Plans{{QTime(10, 0, 0), daily ? QDate() : kDay, false, kEveryDay, snooze ? QTime(10, 10, 0) : QTime()}};
    };
    const auto closed = [&](int minutes) {
        Moments ticks{At(kDay, 9, 59, 58), At(kDay, 10, 0, 29), At(kDay, 10, 1, 0), QDateTime()};
        const QDateTime back = At(kDay, 10, 1, 0).addSecs(minutes * 60 + 1);
        for (QDateTime tick = back; tick == back || tick <= At(kDay, 10, 12, 0); tick = tick.addSecs(60))
            ticks << tick;
        return ticks << At(tomorrow, 9, 59, 59) << At(tomorrow, 10, 0, 1);
    };
    QTest::newRow("one-off snoozed, back before its new time")
        << reminder(false, true) << closed(4) << Ids{"1", "1"} << none;
    QTest::newRow("one-off snoozed, back after it") << reminder(false, true) << closed(15) << Ids{"1"} << Ids{"1"};
    QTest::newRow("daily snoozed, back before") << reminder(true, true) << closed(4) << Ids{"1", "1", "1"} << none;
    QTest::newRow("daily snoozed, back after") << reminder(true, true) << closed(15) << Ids{"1", "1"} << Ids{"1"};
    QTest::newRow("not snoozed: nothing more") << reminder(false, false) << closed(15) << Ids{"1"} << none;
    QTest::newRow("back within the catch-up window") << reminder(true, true) << closed(0) << Ids{"1", "1", "1"} << none;
}

// What each tick finds, in order: every due second once, as an alert when
// the tick is at most the catch-up window late, else in the missed list.
void TestAlamSchedule::ticksFindEachSecondOnce()
{
    QFETCH(Plans, plans);
    QFETCH(Moments, ticks);
    QFETCH(QStringList, due);
    QFETCH(QStringList, missed);
    TClock::Set(At(kDay, 0, 0, 0));
    for (int i = 0; i < plans.size(); ++i)
        AddReminder(plans[i], QString::number(i + 1));
    auto schedule = std::make_unique<TAlamSchedule>(Alam);
    QStringList dueFound;
    QStringList missedFound;
    for (const QDateTime& tick : ticks) {
        if (!tick.isValid()) {
            schedule = std::make_unique<TAlamSchedule>(Alam);
            continue;
        }
        const TAlamTick found = schedule->Tick(tick);
        for (const TDueAlam& firing : found.Due) {
            dueFound << firing.Id;
            QCOMPARE(firing.ReMark, "提醒" + firing.Id);
        }
        for (const TDueAlam& firing : found.Missed)
            missedFound << firing.Id;
    }
    QCOMPARE(dueFound, due);
    QCOMPARE(missedFound, missed);
}

// Another program holding the file: a tick that cannot read raises before
// it shows anything and moves nothing, so the next one collects the same
// reminders; one that reads but cannot write shows what it found all the
// same, and the checked second is written by a later tick.
void TestAlamSchedule::failedCollectionLosesNothing()
{
    AddReminder({QTime(10, 30, 0), kDay}, "1");
    TAlamSchedule schedule(Alam);
    schedule.Tick(At(kDay, 10, 0, 0));
    const qint64 before = At(kDay, 10, 0, 0).toSecsSinceEpoch();
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(DbAccess->DatabasePath().toUtf8().constData(), &other), SQLITE_OK);
    QStringList shown;
    const auto tick = [&](int second) {
        return ErrorOf([&] {
            schedule.Tick(At(kDay, 11, 0, second), [&](const TAlamTick& found) {
                for (const TDueAlam& firing : found.Missed)
                    shown << firing.Id;
            });
        });
    };
    const TNoLockWait noWait;
    QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    QVERIFY(tick(0).startsWith("DB:"));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    QVERIFY(tick(3).startsWith("DB:"));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    QCOMPARE(Alam.LastCheckedSecond(), before);
    QCOMPARE(tick(4), QString());
    QCOMPARE(shown, QStringList{"1"});
    QCOMPARE(Alam.LastCheckedSecond(), At(kDay, 11, 0, 4).toSecsSinceEpoch());
}

JOTTEREL_STORE_TEST_MAIN(TestAlamSchedule)
#include "test_alamschedule.moc"
