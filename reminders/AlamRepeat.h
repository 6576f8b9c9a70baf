#pragma once

#include <QDate>
#include <QString>

class THolidayCalendar;

// How a repeating reminder beyond 每天 and 每周 comes round (the columns
// RepeatKind, RepeatMonth, RepeatDay and AdvanceDays of Alam). rkAsBefore
// leaves the reminder one-off, daily or weekly as its other columns say.
enum TRepeatKind : int { rkAsBefore = 0, rkWorkDays, rkRestDays, rkMonthly, rkYearly, rkLunar };
// The day of 每月最后一天.
inline constexpr int kLastDayOfMonth = -1;
// At most this many days early.
inline constexpr int kMostAdvanceDays = 30;

struct TAlamRepeat
{
    int Kind = rkAsBefore;
    int Month = 0;   // 每年 and 农历: 1..12
    int Day = 0;     // 每月: 1..31 or kLastDayOfMonth; 每年: 1..31; 农历: 1..30
    int Advance = 0; // 每年 and 农历: fires that many days before the date

    bool IsSet() const { return Kind != rkAsBefore; }
    // 法定工作日 and 法定休息日 follow the official schedules.
    bool Official() const { return Kind == rkWorkDays || Kind == rkRestDays; }
    bool operator==(const TAlamRepeat&) const = default;
};

// The festivals a reminder can name: lunar ones, and solar ones as yearly dates.
struct TFestival
{
    const char* Name;
    TAlamRepeat Repeat;
};
inline constexpr TFestival kFestivals[] = {
    {"春节", {rkLunar, 1, 1}},  {"元宵", {rkLunar, 1, 15}},   {"端午", {rkLunar, 5, 5}},   {"七夕", {rkLunar, 7, 7}},
    {"中秋", {rkLunar, 8, 15}}, {"重阳", {rkLunar, 9, 9}},    {"腊八", {rkLunar, 12, 8}},  {"除夕", {rkLunar, 12, 30}},
    {"元旦", {rkYearly, 1, 1}}, {"劳动节", {rkYearly, 5, 1}}, {"国庆", {rkYearly, 10, 1}},
};

// Why the repeat cannot be (a month 13, 2月30日, 提前 for a monthly one),
// empty when it can.
QString RepeatProblem(const TAlamRepeat& repeat);

// The first day on or after `from` on which the reminder fires: a day a
// month lacks (31号) is its last day, 29 February in other years is 28
// February, a lunar date is in the ordinary month (not the leap month that
// repeats it) and 三十 in a month of 29 days is its 二十九, each moved the
// advance days earlier. The calendar is needed for the official kinds only.
QDate NextRepeatDay(const TAlamRepeat& repeat, const QDate& from, const THolidayCalendar* calendar);

// "法定工作日", "每月15号", "每月最后一天", "每年3月8日",
// "每年农历八月十五", "每年农历腊月三十，提前1天".
QString RepeatName(const TAlamRepeat& repeat);
// "正月" .. "腊月" and "初一" .. "三十".
QString LunarMonthName(int month);
QString LunarDayName(int day);
