#include "reminders/AlamRepeat.h"

#include "reminders/Holidays.h"
#include "reminders/LunarCalendar.h"

#include <QStringList>
#include <algorithm>

namespace {
// The official schedules leave no run of days off or at work this long.
constexpr int kLongestOfficialSearch = 400;

// The day of the month, or the month's last day where it has fewer.
QDate MonthDay(int year, int month, int day)
{
    const QDate first(year, month, 1);
    return QDate(year, month, day == kLastDayOfMonth ? first.daysInMonth() : std::min(day, first.daysInMonth()));
}

QDate NextOfficialDay(bool work, const QDate& from, const THolidayCalendar& calendar)
{
    for (QDate day = from; day < from.addDays(kLongestOfficialSearch); day = day.addDays(1))
        if (calendar.IsWorkDay(day) == work)
            return day;
    return {};
}
} // namespace

QString RepeatProblem(const TAlamRepeat& repeat)
{
    const bool yearly = repeat.Kind == rkYearly || repeat.Kind == rkLunar;
    if (repeat.Advance != 0 && !yearly)
        return "只有每年的提醒可以提前几天。";
    if (repeat.Advance < 0 || repeat.Advance > kMostAdvanceDays)
        return QString("最多提前 %1 天。").arg(kMostAdvanceDays);
    switch (repeat.Kind) {
    case rkAsBefore:
    case rkWorkDays:
    case rkRestDays:
        return {};
    case rkMonthly:
        return repeat.Day == kLastDayOfMonth || (repeat.Day >= 1 && repeat.Day <= 31)
                   ? QString()
                   : "每月的日子应在 1 至 31 号之间。";
    case rkYearly:
        // 2000 was a leap year: 2月29日 is a day, 2月30日 is none.
        return QDate(2000, repeat.Month, repeat.Day).isValid()
                   ? QString()
                   : QString("没有%1月%2日这一天。").arg(repeat.Month).arg(repeat.Day);
    case rkLunar:
        return repeat.Month >= 1 && repeat.Month <= 12 && repeat.Day >= 1 && repeat.Day <= 30
                   ? QString()
                   : "农历的月份应在正月至腊月之间，日子在初一至三十之间。";
    }
    return "不认识的重复方式。";
}

QDate NextRepeatDay(const TAlamRepeat& repeat, const QDate& from, const THolidayCalendar* calendar)
{
    if (!RepeatProblem(repeat).isEmpty() || !from.isValid())
        return {};
    // The occurrences in the period of `from` and the two after it, in order:
    // the first whose firing is not before `from`.
    const auto first = [&](auto occurrence, int period) -> QDate {
        for (int next = period; next <= period + 2; ++next) {
            const QDate day = occurrence(next).addDays(-repeat.Advance);
            if (day.isValid() && day >= from)
                return day;
        }
        return {};
    };
    switch (repeat.Kind) {
    case rkWorkDays:
    case rkRestDays:
        return calendar ? NextOfficialDay(repeat.Kind == rkWorkDays, from, *calendar) : QDate();
    case rkMonthly:
        return first(
            [&](int months) {
                const QDate month = QDate(from.year(), from.month(), 1).addMonths(months);
                return MonthDay(month.year(), month.month(), repeat.Day);
            },
            0);
    case rkYearly:
        return first([&](int year) { return MonthDay(year, repeat.Month, repeat.Day); }, from.year());
    case rkLunar:
        return first([&](int year) { return LunarMonthDay(year, repeat.Month, repeat.Day); }, LunarYearOf(from));
    }
    return {};
}

QString LunarMonthName(int month)
{
    static const QStringList names{"正月", "二月", "三月", "四月", "五月", "六月",
                                   "七月", "八月", "九月", "十月", "冬月", "腊月"};
    return names.value(month - 1);
}

QString LunarDayName(int day)
{
    static const QStringList digits{"", "一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};
    if (day < 1 || day > 30)
        return {};
    if (day <= 10)
        return "初" + digits[day];
    if (day < 20)
        return "十" + digits[day - 10];
    if (day == 20 || day == 30)
        return digits[day / 10] + "十";
    return "廿" + digits[day - 20];
}

QString RepeatName(const TAlamRepeat& repeat)
{
    QString name;
    switch (repeat.Kind) {
    case rkAsBefore:
        return {};
    case rkWorkDays:
        return "法定工作日";
    case rkRestDays:
        return "法定休息日";
    case rkMonthly:
        return repeat.Day == kLastDayOfMonth ? "每月最后一天" : QString("每月%1号").arg(repeat.Day);
    case rkYearly:
        name = QString("每年%1月%2日").arg(repeat.Month).arg(repeat.Day);
        break;
    case rkLunar:
        name = "每年农历" + LunarMonthName(repeat.Month) + LunarDayName(repeat.Day);
        break;
    }
    return repeat.Advance > 0 ? name + QString("，提前%1天").arg(repeat.Advance) : name;
}
