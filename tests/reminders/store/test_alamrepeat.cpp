#include "data/MD.h"
#include "reminders/AlamRepeat.h"
#include "reminders/Holidays.h"
#include "support/StoreTest.h"

#include <QFile>
#include <memory>
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <vector>

Q_DECLARE_METATYPE(TAlamRepeat)

// The days reminders come round on: the official working days of China,
// and the monthly, yearly and lunar repeats against ICU's Chinese calendar.

namespace {
// The State Council's notices, as published: the days off that are not a
// weekend and the weekend days that are worked ("01-01..01-03" a run of days).
struct TNotice
{
    int year;
    const char* off;
    const char* worked;
};

const TNotice kNotices[] = {
    {2020, "01-01 01-24..02-02 04-04..04-06 05-01..05-05 06-25..06-27 10-01..10-08",
     "01-19 04-26 05-09 06-28 09-27 10-10"},
    {2021, "01-01..01-03 02-11..02-17 04-03..04-05 05-01..05-05 06-12..06-14 09-19..09-21 10-01..10-07",
     "02-07 02-20 04-25 05-08 09-18 09-26 10-09"},
    {2022, "01-01..01-03 01-31..02-06 04-03..04-05 04-30..05-04 06-03..06-05 09-10..09-12 10-01..10-07",
     "01-29 01-30 04-02 04-24 05-07 10-08 10-09"},
    {2023, "01-01..01-02 01-21..01-27 04-05 04-29..05-03 06-22..06-24 09-29..10-06",
     "01-28 01-29 04-23 05-06 06-25 10-07 10-08"},
    {2024, "01-01 02-10..02-17 04-04..04-06 05-01..05-05 06-10 09-15..09-17 10-01..10-07",
     "02-04 02-18 04-07 04-28 05-11 09-14 09-29 10-12"},
    {2025, "01-01 01-28..02-04 04-04..04-06 05-01..05-05 05-31..06-02 10-01..10-08", "01-26 02-08 04-27 09-28 10-11"},
    {2026, "01-01..01-03 02-15..02-23 04-04..04-06 05-01..05-05 06-19..06-21 09-25..09-27 10-01..10-07",
     "01-04 02-14 02-28 05-09 09-20 10-10"},
};

QList<QDate> NoticeDays(int year, const char* runs)
{
    QList<QDate> days;
    for (const QString& run : QString(runs).split(' ', Qt::SkipEmptyParts)) {
        const QStringList ends = run.split("..");
        const QDate first = QDate::fromString(QString::number(year) + "-" + ends.first(), "yyyy-MM-dd");
        const QDate last = QDate::fromString(QString::number(year) + "-" + ends.last(), "yyyy-MM-dd");
        for (QDate day = first; day <= last; day = day.addDays(1))
            days << day;
    }
    return days;
}

// One day as ICU's Chinese calendar names it.
struct TIcuDay
{
    int month;
    bool leap;
    int day;
};

// Every day from the first to the last, read once for all the rows.
class TIcuDays
{
public:
    static const TIcuDays& Get()
    {
        static const TIcuDays days;
        return days;
    }
    const QDate First{2000, 1, 1};
    const QDate Last{2103, 1, 1};
    const TIcuDay& At(const QDate& day) const { return m_days[size_t(First.daysTo(day))]; }

private:
    TIcuDays()
    {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(
            icu::TimeZone::getGMT()->clone(), icu::Locale("zh_CN@calendar=chinese"), status));
        for (QDate day = First; day <= Last; day = day.addDays(1)) {
            calendar->clear();
            calendar->set(UCAL_JULIAN_DAY, int32_t(day.toJulianDay()));
            m_days.push_back({calendar->get(UCAL_MONTH, status) + 1, calendar->get(UCAL_IS_LEAP_MONTH, status) != 0,
                              calendar->get(UCAL_DATE, status)});
        }
        Q_ASSERT(U_SUCCESS(status));
    }
    std::vector<TIcuDay> m_days;
};

// The repeat's rule read word for word: the day it names, or its month's
// last day when the month is shorter; a lunar one in the ordinary month.
bool Occurs(const TAlamRepeat& repeat, const QDate& day)
{
    const bool lastOfMonth = day.addDays(1).day() == 1;
    const int wanted = repeat.Day == kLastDayOfMonth ? 31 : repeat.Day;
    switch (repeat.Kind) {
    case rkMonthly:
        return day.day() == wanted || (wanted > day.day() && lastOfMonth);
    case rkYearly:
        return day.month() == repeat.Month && (day.day() == wanted || (wanted > day.day() && lastOfMonth));
    case rkLunar: {
        const TIcuDay lunar = TIcuDays::Get().At(day);
        const bool lastOfLunarMonth = TIcuDays::Get().At(day.addDays(1)).day == 1;
        return !lunar.leap && lunar.month == repeat.Month &&
               (lunar.day == repeat.Day || (repeat.Day > lunar.day && lastOfLunarMonth));
    }
    }
    return false;
}

const char* const kHoliday2027 = R"({"year": 2027, "papers": [], "days": [
    {"name": "元旦", "date": "2027-01-01", "isOffDay": true},
    {"name": "春节", "date": "2027-02-06", "isOffDay": false}]})";
} // namespace

class TestAlamRepeat : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

    QString WriteFile(const QByteArray& text)
    {
        const QString path = env->Path("year.json");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    void officialWorkDays_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(kNotices)); ++i)
            QTest::newRow(QByteArray::number(kNotices[i].year)) << i;
    }

    // Every date of the year is a working day exactly as the notice says,
    // and 法定工作日 / 法定休息日 fire on those days and no others.
    void officialWorkDays()
    {
        QFETCH(int, index);
        const TNotice& notice = kNotices[index];
        const QList<QDate> off = NoticeDays(notice.year, notice.off);
        const QList<QDate> worked = NoticeDays(notice.year, notice.worked);
        const THolidayCalendar& calendar = THolidayCalendar::Current();
        QVERIFY(calendar.HasSchedule(notice.year));
        int changed = 0;
        for (QDate day(notice.year, 1, 1); day.year() == notice.year; day = day.addDays(1)) {
            const bool work = worked.contains(day) || (day.dayOfWeek() <= 5 && !off.contains(day));
            QVERIFY2(calendar.IsWorkDay(day) == work, qPrintable(day.toString(Qt::ISODate)));
            changed += work != (day.dayOfWeek() <= 5);
            const QDate next = NextRepeatDay({work ? rkWorkDays : rkRestDays}, day, &calendar);
            QCOMPARE(next, day);
            QVERIFY(NextRepeatDay({work ? rkRestDays : rkWorkDays}, day, &calendar) > day);
        }
        // 2026: 19 weekdays off and 6 weekend days worked.
        if (notice.year == 2026)
            QCOMPARE(changed, 25);
    }

    // A year without a schedule is Monday to Friday until one is imported;
    // the imported file replaces the year's, and removing it brings the
    // bundled one back.
    void importedYearReplacesTheBundledOne()
    {
        QVERIFY(!THolidayCalendar::Current().HasSchedule(2027));
        QVERIFY(THolidayCalendar::Current().IsWorkDay(QDate(2027, 1, 1))); // a Friday
        QCOMPARE(ImportHolidayYear(WriteFile(kHoliday2027)), 2027);
        QVERIFY(THolidayCalendar::Current().HasSchedule(2027));
        QVERIFY(!THolidayCalendar::Current().IsWorkDay(QDate(2027, 1, 1)));
        QVERIFY(THolidayCalendar::Current().IsWorkDay(QDate(2027, 2, 6))); // a Saturday worked
        QVERIFY(!THolidayCalendar::Current().IsWorkDay(QDate(2027, 2, 7)));

        // 2026 replaced by a file that lists only 10-08 as a day off.
        QCOMPARE(ImportHolidayYear(WriteFile(
                     R"({"year": 2026, "days": [{"name": "国庆节", "date": "2026-10-08", "isOffDay": true}]})")),
                 2026);
        QVERIFY(THolidayCalendar::Current().IsWorkDay(QDate(2026, 10, 1)));
        QVERIFY(!THolidayCalendar::Current().IsWorkDay(QDate(2026, 10, 8)));
        QCOMPARE(ImportedHolidayYears(), (QList<int>{2026, 2027}));
        RemoveImportedHolidayYear(2026);
        QVERIFY(!THolidayCalendar::Current().IsWorkDay(QDate(2026, 10, 1)));
        QVERIFY(THolidayCalendar::Current().IsWorkDay(QDate(2026, 10, 8)));
        QCOMPARE(DbGetIntValue("select count(*) from HolidayYear"), 1);
    }

    void importRefusesABadFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason");
        const auto day = [](const char* entry) { return QByteArray(R"({"year": 2027, "days": [)") + entry + "]}"; };
        QTest::newRow("not JSON") << QByteArray("2027-01-01 元旦") << "不是有效的 JSON";
        QTest::newRow("no year") << QByteArray(R"({"days": []})") << "没有写明年份";
        QTest::newRow("year as text") << QByteArray(R"({"year": "2027", "days": []})") << "没有写明年份";
        QTest::newRow("not published yet") << QByteArray(R"({"year": 2027, "days": []})") << "还没有公布";
        QTest::newRow("unknown key") << QByteArray(R"({"year": 2027, "holidays": []})") << "不认识的项“holidays”";
        QTest::newRow("day without isOffDay") << day(R"({"name": "元旦", "date": "2027-01-01"})") << "第 1 个日子";
        QTest::newRow("no such date") << day(R"({"name": "春节", "date": "2027-02-30", "isOffDay": true})")
                                      << "“2027-02-30”不是";
        QTest::newRow("another year") << day(R"({"name": "春节", "date": "2028-01-02", "isOffDay": true})")
                                      << "2028-01-02 不在 2027 年";
        QTest::newRow("twice") << day(R"({"name": "a", "date": "2027-01-01", "isOffDay": true},
                                         {"name": "b", "date": "2027-01-01", "isOffDay": false})")
                               << "出现了两次";
        QTest::newRow("far too large") << QByteArray(300 * 1024, ' ') << "文件太大";
    }

    // Nothing of a refused file is kept, and the reason names what is wrong.
    void importRefusesABadFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, reason);
        const QString error = ErrorOf([&] { ImportHolidayYear(WriteFile(text)); });
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(DbGetIntValue("select count(*) from HolidayYear"), 0);
    }

    void nextDayAgainstIcu_data()
    {
        QTest::addColumn<TAlamRepeat>("repeat");
        QTest::addColumn<QString>("name");
        const auto row = [](const TAlamRepeat& repeat, const char* name) { QTest::newRow(name) << repeat << name; };
        row({rkMonthly, 0, 1}, "每月1号");
        row({rkMonthly, 0, 29}, "每月29号");
        row({rkMonthly, 0, 30}, "每月30号");
        row({rkMonthly, 0, 31}, "每月31号");
        row({rkMonthly, 0, kLastDayOfMonth}, "每月最后一天");
        row({rkYearly, 2, 29}, "每年2月29日");
        row({rkYearly, 3, 8, 3}, "每年3月8日，提前3天");
        row({rkYearly, 1, 1, 1}, "每年1月1日，提前1天");
        row({rkYearly, 12, 31}, "每年12月31日");
        row({rkLunar, 1, 1}, "每年农历正月初一");
        row({rkLunar, 1, 1, 1}, "每年农历正月初一，提前1天");
        row({rkLunar, 8, 15}, "每年农历八月十五");
        row({rkLunar, 12, 30}, "每年农历腊月三十");
        row({rkLunar, 4, 30}, "每年农历四月三十");
        row({rkLunar, 5, 5, 2}, "每年农历五月初五，提前2天");
        row({rkLunar, 7, 7}, "每年农历七月初七");
    }

    // For every day from 2000 to 2100, the next day the repeat fires is the
    // first that its rule names in ICU's calendar: month ends, 29 February,
    // leap months and 三十 in a month of 29 days.
    void nextDayAgainstIcu()
    {
        QFETCH(TAlamRepeat, repeat);
        QFETCH(QString, name);
        QCOMPARE(RepeatName(repeat), name);
        const TIcuDays& days = TIcuDays::Get();
        // Backwards from the end: the next firing of each day.
        std::vector<QDate> next(size_t(days.First.daysTo(days.Last)) + 1);
        QDate coming;
        for (QDate day = days.Last.addDays(-repeat.Advance); day >= days.First; day = day.addDays(-1)) {
            if (Occurs(repeat, day.addDays(repeat.Advance)))
                coming = day;
            next[size_t(days.First.daysTo(day))] = coming;
        }
        for (QDate day = days.First; day.year() <= 2100; day = day.addDays(1)) {
            const QDate expected = next[size_t(days.First.daysTo(day))];
            QVERIFY(expected.isValid());
            const QDate found = NextRepeatDay(repeat, day, nullptr);
            if (found != expected)
                QFAIL(qPrintable(
                    QString("from %1: %2, not %3")
                        .arg(day.toString(Qt::ISODate), found.toString(Qt::ISODate), expected.toString(Qt::ISODate))));
        }
    }
};

JOTTEREL_STORE_TEST_MAIN(TestAlamRepeat)
#include "test_alamrepeat.moc"
