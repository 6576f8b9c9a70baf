#include "reminders/LunarCalendar.h"

#include "data/UException.h"

#include <QHash>
#include <algorithm>
#include <memory>
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

namespace {
struct TLunarDate
{
    int Year = 0; // as LunarYearOf names it
    int Month = 0;
    bool Leap = false;
    int Day = 0;
};

// ICU counts the Chinese calendar's years from 2637 BC.
constexpr int kExtendedYearOffset = 2637;

// One calendar per thread (an ICU calendar is not shared between threads),
// on days at midnight in its own time zone: the days are those of China,
// which the calendar's months are reckoned in.
icu::Calendar& Chinese()
{
    thread_local const std::unique_ptr<icu::Calendar> calendar = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Calendar> made(icu::Calendar::createInstance(
            icu::TimeZone::getGMT()->clone(), icu::Locale("zh_CN@calendar=chinese"), status));
        if (U_FAILURE(status) || !made)
            RaiseError(QString("无法使用农历：%1").arg(u_errorName(status)));
        return made;
    }();
    return *calendar;
}

TLunarDate Fields(icu::Calendar& calendar)
{
    UErrorCode status = U_ZERO_ERROR;
    TLunarDate date;
    date.Year = calendar.get(UCAL_EXTENDED_YEAR, status) - kExtendedYearOffset;
    date.Month = calendar.get(UCAL_MONTH, status) + 1;
    date.Leap = calendar.get(UCAL_IS_LEAP_MONTH, status) != 0;
    date.Day = calendar.get(UCAL_DATE, status);
    if (U_FAILURE(status))
        RaiseError(QString("无法换算农历：%1").arg(u_errorName(status)));
    return date;
}

// The day of a lunar date; invalid for a day past its month's end or a leap
// month the year does not have.
QDate FromLunar(const TLunarDate& date)
{
    icu::Calendar& calendar = Chinese();
    calendar.clear();
    calendar.set(UCAL_EXTENDED_YEAR, date.Year + kExtendedYearOffset);
    calendar.set(UCAL_MONTH, date.Month - 1);
    calendar.set(UCAL_IS_LEAP_MONTH, date.Leap ? 1 : 0);
    calendar.set(UCAL_DATE, date.Day);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t julianDay = calendar.get(UCAL_JULIAN_DAY, status);
    if (U_FAILURE(status))
        return {};
    // The calendar is lenient: a day or month that is not there rolls on
    // into another, which reads back differently.
    const TLunarDate read = Fields(calendar);
    if (read.Year != date.Year || read.Month != date.Month || read.Leap != date.Leap || read.Day != date.Day)
        return {};
    return QDate::fromJulianDay(julianDay);
}

int OrdinaryMonthDays(int year, int month)
{
    return FromLunar({year, month, false, 30}).isValid() ? 30 : 29;
}

// An ordinary month as ICU gives it: its first day and its length.
struct TLunarMonth
{
    QDate First;
    int Days = 0;
};

const TLunarMonth& OrdinaryMonth(int year, int month)
{
    thread_local QHash<int, TLunarMonth> known;
    const int key = year * 16 + month;
    auto found = known.find(key);
    if (found == known.end())
        found = known.insert(key, {FromLunar({year, month, false, 1}), OrdinaryMonthDays(year, month)});
    return *found;
}
} // namespace

QDate LunarMonthDay(int year, int month, int day)
{
    const TLunarMonth& known = OrdinaryMonth(year, month);
    return known.First.isValid() ? known.First.addDays(std::min(day, known.Days) - 1) : QDate();
}

int LunarYearOf(const QDate& day)
{
    return day >= OrdinaryMonth(day.year(), 1).First ? day.year() : day.year() - 1;
}
