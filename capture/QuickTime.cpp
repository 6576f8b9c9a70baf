#include "capture/QuickTime.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/UException.h"
#include "reminders/UntAlam.h"

#include <QRegularExpression>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace {
constexpr int kDayMinutes = 24 * 60;
// A day named without a time of day ("明天", "周五", "3天后", "每天") is at 9:00.
constexpr int kDefaultMinutes = 9 * 60;
constexpr int kWeekend = 0x60; // Saturday and Sunday
// Larger amounts ("100000天后") are typing slips, not times.
constexpr int kLargestNumber = 99999;
// A bare hour of 1 to 6 typed in these hours is the afternoon's; typed at
// night it may as well be the small hours, and is asked about.
constexpr int kDayStartHour = 6;
constexpr int kDayEndHour = 18;

// What the rules have read so far. Each part of a time is claimed once; the
// clock's hour stays as typed until the part of the day ("下午") is known.
enum TPart { pDay, pClock, pPeriod, pRepeat, pMoment, pAdvance, kPartCount };

struct TReading
{
    QDateTime now;
    std::array<QString, kPartCount> words; // the words that claimed each part
    QString refusal;
    // The day: the k-th day it may be, tried from k = 0 until its moment is
    // ahead; tries 1 for a day that cannot move ("明天", "2027-01-05").
    std::function<QDate(int k)> day;
    int dayTries = 0;
    int hour = -1, minute = 0, second = 0; // the clock as typed
    bool spokenHour = false;               // "9点", not "9:00": the morning's or the evening's
    int period = -1;                       // into kPeriods
    int weekDays = 0;                      // of a repetition by the week
    TAlamRepeat repeat;                    // of a repetition beyond 每天 and 每周
    int advance = 0;                       // days early ("提前1天")
    qint64 momentSeconds = 0;              // counted from now ("10分钟后")
    QString clockNeeded;                   // a deadline that names no hour ("下班前")
};

void Refuse(TReading& r, const QString& reason)
{
    if (r.refusal.isEmpty())
        r.refusal = reason;
}

bool Clash(int a, int b)
{
    return a == b || a == pMoment || b == pMoment || (a == pDay && b == pRepeat) || (a == pRepeat && b == pDay);
}

// Takes a part of the time for the words; false (and the reason) when the
// words clash with what was read before.
bool Claim(TReading& r, TPart part, const QString& word)
{
    static const char* const nouns[] = {"日子", "钟点", "时段", "重复方式", "时间", "提前的天数"};
    for (int other = 0; other < kPartCount; ++other) {
        if (r.words[other].isEmpty() || !Clash(part, other))
            continue;
        if (other == part)
            Refuse(r, QString("“%1”和“%2”重复了，只能写一个%3。").arg(r.words[other], word, nouns[part]));
        else
            Refuse(r, QString("“%1”和“%2”不能一起用。").arg(r.words[other], word));
        return false;
    }
    r.words[part] = word;
    return true;
}

// 3, 12, 三, 十二, 二十五, 两, 零五; -1 when it is no such number.
int NumberValue(const QString& text)
{
    bool ok = false;
    const int plain = text.toInt(&ok);
    if (ok)
        return plain <= kLargestNumber ? plain : -1;
    static const QString digits = "零一二三四五六七八九";
    auto digitsValue = [](const QString& part) {
        int value = 0;
        for (const QChar c : part) {
            const int digit = c == u'〇' ? 0 : c == u'两' ? 2 : digits.indexOf(c);
            if (digit < 0 || value > 99)
                return -1;
            value = value * 10 + digit;
        }
        return value;
    };
    const int ten = text.indexOf(u'十');
    if (ten < 0)
        return digitsValue(text);
    const int tens = ten == 0 ? 1 : digitsValue(text.left(ten));
    const int ones = ten == text.size() - 1 ? 0 : digitsValue(text.mid(ten + 1));
    return tens < 1 || tens > 9 || ones < 0 || ones > 9 ? -1 : tens * 10 + ones;
}

int Number(const QRegularExpressionMatch& m, const char* name)
{
    return NumberValue(m.captured(name));
}

// 一 .. 日 (or 天) as Monday = 0 .. Sunday = 6.
int WeekDayIndex(QChar c)
{
    return c == u'天' ? 6 : QString("一二三四五六日").indexOf(c);
}

// The parts of the day: the hours that may follow each as typed, the hour
// each becomes, and the time the part stands for when no hour follows (-1:
// an hour must follow). "晚上12点" is midnight at the day's end, "晚上1点"
// the small hours after it.
struct THours
{
    int from = 0, to = -1; // as typed
    int add = 0;           // to get the hour of the day
};

struct TPeriod
{
    const char* words;
    THours hours[4];
    int defaultMinutes;
};

// clang-format off
const TPeriod kPeriods[] = {
    {"凌晨", {{0, 6, 0}, {12, 12, -12}}, -1},
    {"半夜", {{0, 5, 0}, {11, 12, 12}}, -1},
    {"am|a.m.", {{1, 11, 0}, {12, 12, -12}}, -1},
    {"pm|p.m.", {{1, 11, 12}, {12, 12, 0}}, -1},
    {"早上|早晨|清晨", {{0, 12, 0}}, 8 * 60},
    {"上午", {{0, 12, 0}}, 9 * 60},
    {"中午", {{11, 14, 0}, {1, 2, 12}}, 12 * 60},
    {"下午", {{1, 11, 12}, {12, 23, 0}}, 15 * 60},
    {"傍晚", {{4, 8, 12}, {16, 20, 0}}, 18 * 60},
    {"晚上|夜里|夜间", {{0, 4, 24}, {5, 12, 12}, {17, 24, 0}}, 20 * 60},
};
// clang-format on

// The hour of the day the typed hour is in the part of the day; -1 when the
// part has no such hour.
int PeriodHour(const TPeriod& period, int typed)
{
    for (const THours& hours : period.hours)
        if (typed >= hours.from && typed <= hours.to)
            return typed + hours.add;
    return -1;
}

void SetPeriod(TReading& r, const QString& word, const QString& period)
{
    if (!Claim(r, pPeriod, word))
        return;
    const QString plain = period.toLower().remove('.');
    for (int i = 0; i < int(std::size(kPeriods)); ++i)
        if (QString(kPeriods[i].words).remove('.').split('|').contains(plain))
            r.period = i;
}

void SetClock(TReading& r, const QString& word, int hour, int minute, int second, bool spoken)
{
    if (!Claim(r, pClock, word))
        return;
    r.spokenHour = spoken;
    if (hour < 0 || hour > 24 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        (hour == 24 && minute + second > 0))
        Refuse(r, QString("没有这个钟点：“%1”。").arg(word));
    r.hour = hour;
    r.minute = minute;
    r.second = second;
}

// A day that cannot move: past, it is refused.
void SetFixedDay(TReading& r, const QString& word, const QDate& day)
{
    if (!Claim(r, pDay, word))
        return;
    if (!day.isValid())
        Refuse(r, QString("没有这一天：“%1”。").arg(word));
    r.day = [day](int) { return day; };
    r.dayTries = 1;
}

// A day that comes again ("周五", "12月24日", "15号"): the first of its
// turns whose moment is still ahead.
void SetComingDay(TReading& r, const QString& word, std::function<QDate(int)> turn, int tries)
{
    if (!Claim(r, pDay, word))
        return;
    r.day = std::move(turn);
    r.dayTries = tries;
}

void SetMoment(TReading& r, const QString& word, qint64 seconds)
{
    if (Claim(r, pMoment, word))
        r.momentSeconds = seconds;
}

void SetRepeat(TReading& r, const QString& word, int weekDays, const TAlamRepeat& repeat = TAlamRepeat())
{
    if (Claim(r, pRepeat, word)) {
        r.weekDays = weekDays;
        r.repeat = repeat;
    }
}

// 每年3月8日, 每月31号: refused when there is no such day in any year.
void SetDateRepeat(TReading& r, const QString& word, const TAlamRepeat& repeat)
{
    if (const QString problem = RepeatProblem(repeat); !problem.isEmpty())
        Refuse(r, QString("没有这一天：“%1”。").arg(word));
    else
        SetRepeat(r, word, kEveryDay, repeat);
}

// 正, 冬, 腊 or a number as a lunar month; 初一, 廿五, 十五 or a number as
// its day.
int LunarMonthValue(const QString& text)
{
    return text == "正" ? 1 : text == "冬" ? 11 : text == "腊" ? 12 : NumberValue(text);
}

int LunarDayValue(const QString& text)
{
    if (text.startsWith(u'初'))
        return NumberValue(text.mid(1)) <= 10 ? NumberValue(text.mid(1)) : -1;
    if (text.startsWith(u'廿'))
        return NumberValue(text.mid(1)) >= 1 && NumberValue(text.mid(1)) <= 9 ? 20 + NumberValue(text.mid(1)) : -1;
    return NumberValue(text);
}

// The coming weekend's Saturday, or its Sunday, or the next weekend's
// days, whichever is first ahead.
QDate WeekendDay(const QDate& today, int k)
{
    QDate day = today;
    for (int found = -1;; day = day.addDays(1))
        if (day.dayOfWeek() >= 6 && ++found == k)
            return day;
}

void SetWeekDayOf(TReading& r, const QString& word, const QString& which, QChar day)
{
    const QDate today = r.now.date();
    const int index = WeekDayIndex(day);
    if (which.isEmpty()) {
        const QDate coming = today.addDays((index - (today.dayOfWeek() - 1) + 7) % 7);
        const auto turn = [coming](int k) { return coming.addDays(7 * k); };
        SetComingDay(r, word, turn, 2);
        return;
    }
    const int weeks = which.startsWith("下下") ? 2 : which.startsWith("下") ? 1 : 0;
    const QDate monday = today.addDays(1 - today.dayOfWeek());
    SetFixedDay(r, word, monday.addDays(7 * weeks + index));
}

void SetMonthDay(TReading& r, const QString& word, int month, int day)
{
    // 2000 was a leap year: 2月29日 is a day, 2月30日 is none.
    if (!QDate(2000, month, day).isValid()) {
        Refuse(r, QString("没有这一天：“%1”。").arg(word));
        return;
    }
    const int year = r.now.date().year();
    // The next 2月29日 may be eight years away.
    const auto turn = [=](int k) { return QDate(year + k, month, day); };
    SetComingDay(r, word, turn, 9);
}

void SetDayOfMonth(TReading& r, const QString& word, int day)
{
    if (day < 1 || day > 31) {
        Refuse(r, QString("没有这一天：“%1”。").arg(word));
        return;
    }
    const QDate first(r.now.date().year(), r.now.date().month(), 1);
    const auto turn = [=](int k) {
        const QDate month = first.addMonths(k);
        return QDate(month.year(), month.month(), day);
    };
    SetComingDay(r, word, turn, 13);
}

int WeekDayMask(const QString& days)
{
    int mask = 0;
    for (const QChar c : days)
        if (WeekDayIndex(c) >= 0)
            mask |= 1 << WeekDayIndex(c);
    return mask;
}

int WeekDayRange(QChar from, QChar to)
{
    int mask = 0;
    for (int day = WeekDayIndex(from);; day = (day + 1) % 7) {
        mask |= 1 << day;
        if (day == WeekDayIndex(to))
            return mask;
    }
}

using TMatch = QRegularExpressionMatch;

void SetAdvance(TReading& r, const QString& word, int days)
{
    if (Claim(r, pAdvance, word))
        r.advance = days;
}

// A word of the rules that only the first day or repetition read takes
// ("1/1 元旦": the festival is the text).
bool NoDayYet(const TReading& r)
{
    return r.words[pDay].isEmpty() && r.words[pRepeat].isEmpty();
}

// A deadline follows the day or the hour it is before.
bool AfterATime(const TReading& r)
{
    return !r.words[pDay].isEmpty() || !r.words[pClock].isEmpty() || !r.words[pPeriod].isEmpty();
}

// A part of the day is read before the clock, and after it too (am/pm,
// 上午 and 下午), while none is read yet.
bool PeriodOpen(const TReading& r)
{
    return r.words[pClock].isEmpty() || r.words[pPeriod].isEmpty();
}

// The rules, tried in this order where the last one stopped; the first that
// matches is taken, and the text begins where none does. In a pattern %N is
// a number (3, 十二, 两) and %W a day of the week (一 .. 日, 天). A new rule
// is a pattern and what it sets:
//   SetFixedDay   a day that cannot move; a time on it that has passed is refused;
//   SetComingDay  a day that comes again: its first turn still ahead;
//   SetClock      the time of day as typed, "下午" and the like applied later;
//   SetPeriod     a part of the day: its hours and its time without an hour;
//   SetMoment     a moment counted from now, in seconds;
//   SetRepeat     a repetition: TAlam's days of the week (0 every day) or a
//                 repeat beyond them (法定工作日, 每月, 每年, 农历);
//   Refuse        words the reminders cannot hold, with the reason.
// Once the clock or a moment from now is read, only the rules marked
// afterClock are tried. A time of day without a day is today's, or
// tomorrow's once it has passed. Rules marked anywhere are also read where
// they stand in the text ("9点 开会 每天"), and one with a condition only
// while it holds.
struct TRule
{
    const char* pattern;
    void (*apply)(TReading& r, const TMatch& m);
    bool afterClock = false; // also tried once the clock or a moment from now was read
    bool anywhere = false;   // also read inside the text
    bool (*applies)(const TReading& r) = nullptr;
};

const TRule kRules[] = {
    // Repetitions. "周末" alone is the coming weekend, once.
    {"每天|每日|天天", [](TReading& r, const TMatch& m) { SetRepeat(r, m.captured(), kEveryDay); }, false, true},
    {"法定工作日|(?:每个?)?工作日(?![志记])",
     [](TReading& r, const TMatch& m) { SetRepeat(r, m.captured(), kEveryDay, {rkWorkDays}); }, false, true},
    {"法定休息日|(?:每个?)?(?:法定)?节假日|(?:每个?)?休息日",
     [](TReading& r, const TMatch& m) { SetRepeat(r, m.captured(), kEveryDay, {rkRestDays}); }, false, true},
    {"每个?周末", [](TReading& r, const TMatch& m) { SetRepeat(r, m.captured(), kWeekend); }, false, true},
    {"周末",
     [](TReading& r, const TMatch& m) {
         const QDate today = r.now.date();
         SetComingDay(
             r, m.captured(), [today](int k) { return WeekendDay(today, k); }, 4);
     }},
    {"每?(?:周|星期|礼拜)(?<from>%W)(?:至|到|-|~)(?:周|星期|礼拜)?(?<to>%W)",
     [](TReading& r, const TMatch& m) {
         SetRepeat(r, m.captured(), WeekDayRange(m.captured("from")[0], m.captured("to")[0]));
     },
     false, true},
    {"每(?:周|星期|礼拜)(?<days>%W(?:[、，,和及]?(?:周|星期|礼拜)?%W)*)",
     [](TReading& r, const TMatch& m) { SetRepeat(r, m.captured(), WeekDayMask(m.captured("days"))); }, false, true},
    {"每(?:周|星期|礼拜)",
     [](TReading& r, const TMatch& m) {
         Refuse(r, QString("“%1”是哪几天？请写上日子，例如“每周一三五”。").arg(m.captured()));
     }},
    {"每个?月\\s*(?<d>%N)\\s*[号日]",
     [](TReading& r, const TMatch& m) {
         SetDateRepeat(r, m.captured(), {rkMonthly, 0, Number(m, "d")});
     },
     false, true},
    {"每个?月的?(?:最后一天|月底|底)",
     [](TReading& r, const TMatch& m) {
         SetRepeat(r, m.captured(), kEveryDay, {rkMonthly, 0, kLastDayOfMonth});
     },
     false, true},
    {"(?:每年)?(?:农历|阴历)\\s*(?<lm>正|冬|腊|%N)\\s*月\\s*(?<ld>初%N|廿%N|%N)\\s*[日号]?",
     [](TReading& r, const TMatch& m) {
         const int month = LunarMonthValue(m.captured("lm"));
         const int day = LunarDayValue(m.captured("ld"));
         SetDateRepeat(r, m.captured(), {rkLunar, month, day});
     },
     false, true},
    {"每年\\s*(?<m>%N)\\s*月\\s*(?<d>%N)\\s*[日号]?",
     [](TReading& r, const TMatch& m) {
         SetDateRepeat(r, m.captured(), {rkYearly, Number(m, "m"), Number(m, "d")});
     },
     false, true},
    {"每个?月|每年",
     [](TReading& r, const TMatch& m) {
         Refuse(r,
                QString("“%1”是哪一天？请写上日子，例如“每月1号”“每年3月8日”或“每年农历八月十五”。").arg(m.captured()));
     }},
    {"每(?:隔|小时|个小时|分钟|季度|%N\\s*(?:天|日|周|个?星期|个?小时|分钟|个?月|年))\\S*",
     [](TReading& r, const TMatch& m) {
         Refuse(r, QString("看不懂“%1”：提醒只能不重复，或每天、每周的某几天、每月、每年重复。").arg(m.captured()));
     }},
    {"从\\S{1,12}?(?:起|开始)",
     [](TReading& r, const TMatch& m) { Refuse(r, QString("看不懂“%1”：提醒不能定从哪天开始。").arg(m.captured())); }},
    {"提前\\s*(?<n>%N)\\s*天(?:提醒)?",
     [](TReading& r, const TMatch& m) { SetAdvance(r, m.captured(), Number(m, "n")); }, true, true},
    // Festivals, as yearly dates.
    {"春节|元宵节?|端午节?|七夕节?|中秋节?|重阳节?|腊八节?|除夕|元旦|劳动节|国庆节?",
     [](TReading& r, const TMatch& m) {
         for (const TFestival& festival : kFestivals)
             if (m.captured().startsWith(QString::fromUtf8(festival.Name)))
                 SetRepeat(r, m.captured(), kEveryDay, festival.Repeat);
     },
     false, false, NoDayYet},

    // A moment counted from now.
    {"(?:一刻钟|一刻)(?:以)?后", [](TReading& r, const TMatch& m) { SetMoment(r, m.captured(), 15 * 60); }, true},
    {"半(?:个)?(?:小时|钟头)(?:以)?后", [](TReading& r, const TMatch& m) { SetMoment(r, m.captured(), 30 * 60); },
     true},
    {"(?<n>%N)\\s*个?半(?:小时|钟头)(?:以)?后",
     [](TReading& r, const TMatch& m) { SetMoment(r, m.captured(), Number(m, "n") * 3600LL + 1800); }, true},
    {"(?<n>%N)\\s*个?(?:小时|钟头)(?:以)?后",
     [](TReading& r, const TMatch& m) { SetMoment(r, m.captured(), Number(m, "n") * 3600LL); }, true},
    {"(?<n>%N)\\s*分钟?(?:以)?后",
     [](TReading& r, const TMatch& m) { SetMoment(r, m.captured(), Number(m, "n") * 60LL); }, true},
    {"(?<n>%N)\\s*秒钟?(?:以)?后", [](TReading& r, const TMatch& m) { SetMoment(r, m.captured(), Number(m, "n")); },
     true},

    // Days counted from today (a month later: the same day of the month,
    // or the month's last day when it is shorter).
    {"(?<n>%N)\\s*(?:天|日)(?:以)?后",
     [](TReading& r, const TMatch& m) { SetFixedDay(r, m.captured(), r.now.date().addDays(Number(m, "n"))); }},
    {"(?<n>%N)\\s*个?(?:星期|周|礼拜)(?:以)?后",
     [](TReading& r, const TMatch& m) { SetFixedDay(r, m.captured(), r.now.date().addDays(7 * Number(m, "n"))); }},
    {"(?<n>%N)\\s*个月(?:以)?后",
     [](TReading& r, const TMatch& m) { SetFixedDay(r, m.captured(), r.now.date().addMonths(Number(m, "n"))); }},

    // Named days.
    {"今天|今日", [](TReading& r, const TMatch& m) { SetFixedDay(r, m.captured(), r.now.date()); }},
    {"明天|明日", [](TReading& r, const TMatch& m) { SetFixedDay(r, m.captured(), r.now.date().addDays(1)); }},
    {"大后天", [](TReading& r, const TMatch& m) { SetFixedDay(r, m.captured(), r.now.date().addDays(3)); }},
    {"后天", [](TReading& r, const TMatch& m) { SetFixedDay(r, m.captured(), r.now.date().addDays(2)); }},
    {"今晚",
     [](TReading& r, const TMatch& m) {
         SetFixedDay(r, "今天", r.now.date());
         SetPeriod(r, m.captured(), "晚上");
     }},
    {"明早",
     [](TReading& r, const TMatch& m) {
         SetFixedDay(r, "明天", r.now.date().addDays(1));
         SetPeriod(r, m.captured(), "早上");
     }},
    {"明晚",
     [](TReading& r, const TMatch& m) {
         SetFixedDay(r, "明天", r.now.date().addDays(1));
         SetPeriod(r, m.captured(), "晚上");
     }},
    {"(?:下下个?|下个?|本|这个?)?(?:周|星期|礼拜)%W(?:[、，,和及]?(?:周|星期|礼拜)?%W)+",
     [](TReading& r, const TMatch& m) {
         Refuse(r, QString("看不懂“%1”：一个提醒只能定一天；每周重复的，请在前面写上“每”。").arg(m.captured()));
     }},
    // "周五": this week's Friday while its time is ahead, else next week's.
    // "本周五", "这周五": this week's (Monday to Sunday) even when past, and so
    // refused then; "下周五": next week's; "下下周五": the week after.
    {"(?<which>下下个?|下个?|本|这个?)?(?:周|星期|礼拜)(?<day>%W)",
     [](TReading& r, const TMatch& m) { SetWeekDayOf(r, m.captured(), m.captured("which"), m.captured("day")[0]); }},

    // Dates. Without a year the next such day whose time is ahead; 1/5 is
    // January 5; "15号" the next 15th of a month that has one.
    {"(?<y>\\d{4})\\s*[-/.年]\\s*(?<m>\\d{1,2})\\s*[-/.月]\\s*(?<d>\\d{1,2})(?:\\s*[日号])?",
     [](TReading& r, const TMatch& m) {
         SetFixedDay(r, m.captured(), QDate(Number(m, "y"), Number(m, "m"), Number(m, "d")));
     }},
    {"(?<m>%N)\\s*月\\s*(?<d>%N)\\s*[日号]",
     [](TReading& r, const TMatch& m) { SetMonthDay(r, m.captured(), Number(m, "m"), Number(m, "d")); }},
    {"(?<m>\\d{1,2})/(?<d>\\d{1,2})(?!\\d)",
     [](TReading& r, const TMatch& m) { SetMonthDay(r, m.captured(), Number(m, "m"), Number(m, "d")); }},
    {"(?<d>%N)\\s*[日号]", [](TReading& r, const TMatch& m) { SetDayOfMonth(r, m.captured(), Number(m, "d")); }},

    // Parts of the day, before the hour; am/pm, 上午 and 下午 after it too.
    {"(?<p>凌晨|半夜|早上|早晨|清晨|上午|中午|下午|傍晚|晚上|夜里|夜间)",
     [](TReading& r, const TMatch& m) { SetPeriod(r, m.captured(), m.captured("p")); }},
    {"(?<p>上午|下午)(?=[\\s,，。]|$)|(?<ap>a\\.?m\\.?|p\\.?m\\.?)(?![a-z])",
     [](TReading& r, const TMatch& m) {
         SetPeriod(r, m.captured(), m.captured("p").isEmpty() ? m.captured("ap") : m.captured("p"));
     },
     true, false, PeriodOpen},

    // The clock: 9:30, 21:00:15, 9点, 9点半, 8点一刻, 8点三刻, 9点05分, 十点过五分, 3pm.
    {"(?<h>\\d{1,2})\\s*(?<ap>a\\.?m\\.?|p\\.?m\\.?)(?![a-z])",
     [](TReading& r, const TMatch& m) {
         SetClock(r, m.captured(), Number(m, "h"), 0, 0, false);
         SetPeriod(r, m.captured(), m.captured("ap"));
     },
     true},
    {"(?<h>\\d{1,2}):(?<m>\\d{2})(?::(?<s>\\d{2}))?(?!\\d)",
     [](TReading& r, const TMatch& m) {
         SetClock(r, m.captured(), Number(m, "h"), Number(m, "m"), m.captured("s").isEmpty() ? 0 : Number(m, "s"),
                  false);
     },
     true},
    {"(?<h>%N)\\s*[点时](?:钟)?(?:(?<half>半)|(?<quarter>一刻)|(?<quarters>三刻)|过?(?<m>%N)分?)?",
     [](TReading& r, const TMatch& m) {
         const int minute = !m.captured("half").isEmpty()       ? 30
                            : !m.captured("quarter").isEmpty()  ? 15
                            : !m.captured("quarters").isEmpty() ? 45
                            : m.captured("m").isEmpty()         ? 0
                                                                : Number(m, "m");
         SetClock(r, m.captured(), Number(m, "h"), minute, 0, true);
     },
     true},

    // Deadlines: the time they are before. "下班前" names no hour.
    {"下班之?前", [](TReading& r, const TMatch& m) { r.clockNeeded = m.captured(); }, true},
    {"(?:之前|以前|前)(?![台往面门天年辈端后方排列线锋景途程进提夕])", [](TReading&, const TMatch&) {}, true, false,
     AfterATime},
};

struct TCompiledRule
{
    QRegularExpression pattern;
    const TRule* rule;
};

const std::vector<TCompiledRule>& CompiledRules()
{
    static const std::vector<TCompiledRule> rules = [] {
        std::vector<TCompiledRule> compiled;
        for (const TRule& rule : kRules) {
            QString pattern = QString::fromUtf8(rule.pattern);
            pattern.replace("%N", "(?:[0-9]+|[零〇一二两三四五六七八九十]+)").replace("%W", "[一二三四五六日天]");
            compiled.push_back(
                {QRegularExpression("(?:" + pattern + ")", QRegularExpression::CaseInsensitiveOption), &rule});
            Q_ASSERT(compiled.back().pattern.isValid());
        }
        return compiled;
    }();
    return rules;
}

// Blanks and commas between the parts of the time.
int SkipSeparators(const QString& text, int pos)
{
    while (pos < text.size() && (text[pos].isSpace() || text[pos] == u',' || text[pos] == u'，'))
        ++pos;
    return pos;
}

// The clock, or a moment from now, ends a time: what follows is the text
// ("明天9点 3号楼", "10分钟后 晚上的会"), unless it is another clock or
// moment, which clashes.
bool TimeClosed(const TReading& r)
{
    return !r.words[pClock].isEmpty() || !r.words[pMoment].isEmpty();
}

// A number of the match that is none (too large, "三五十").
bool UnreadNumber(const QRegularExpression& pattern, const QRegularExpressionMatch& match)
{
    static const QStringList numbers{"n", "y", "m", "d", "h", "s"};
    for (const QString& name : pattern.namedCaptureGroups())
        if (numbers.contains(name) && !match.captured(name).isEmpty() && NumberValue(match.captured(name)) < 0)
            return true;
    return false;
}

bool MatchesAt(const TCompiledRule& rule, const TReading& r, const QString& text, int at,
               QRegularExpressionMatch& match)
{
    if (rule.rule->applies && !rule.rule->applies(r))
        return false;
    match =
        rule.pattern.match(text, at, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
    return match.hasMatch() && match.capturedLength() > 0;
}

// Applies a rule's match, or refuses a number in it that is none.
void Apply(const TCompiledRule& rule, TReading& r, const QRegularExpressionMatch& match)
{
    if (UnreadNumber(rule.pattern, match))
        Refuse(r, QString("看不懂“%1”。").arg(match.captured()));
    else
        rule.rule->apply(r, match);
}

// Reads rules from pos on; returns where the last one read stopped (pos when
// none did) and how many were read.
int ReadRules(TReading& r, const QString& text, int pos, int* read)
{
    *read = 0;
    for (;;) {
        const int at = SkipSeparators(text, pos);
        const TCompiledRule* found = nullptr;
        QRegularExpressionMatch match;
        for (const TCompiledRule& rule : CompiledRules()) {
            if (TimeClosed(r) && !rule.rule->afterClock)
                continue;
            if (MatchesAt(rule, r, text, at, match)) {
                found = &rule;
                break;
            }
        }
        if (!found)
            return pos;
        Apply(*found, r, match);
        ++*read;
        pos = match.capturedEnd();
        if (!r.refusal.isEmpty())
            return pos;
    }
}

// Full-width digits, colon, slash and blank as their plain forms, one
// character for one, so that places in the copy are places in the words.
QString Normalised(const QString& words)
{
    QString text = words;
    for (QChar& c : text) {
        if (c >= u'０' && c <= u'９')
            c = QChar(u'0' + (c.unicode() - u'０'));
        else if (c == u'：')
            c = u':';
        else if (c == u'／')
            c = u'/';
        else if (c == u'\u3000')
            c = u' ';
    }
    return text;
}

// Words at the start of what remains that look like a time the rules do not
// know ("3天", "25分", "9.30"): refused rather than kept as the reminder's text.
QString UnreadTime(const QString& rest)
{
    static const QRegularExpression looksLikeTime(
        "^(?:[0-9]+|[零〇一二两三四五六七八九十]+)\\s*"
        "(?:[点时:/]|\\.\\d|分|秒|个?小时|个?钟头|天|日|号|个?星期|周|个?月|年)\\S*");
    return looksLikeTime.match(rest).captured();
}

// The reminder's text: what remains, without the blanks and marks that
// parted it from the time, nor a leading "提醒我".
QString ReminderText(const QString& rest)
{
    static const QRegularExpression lead("^[\\s,，:：。.、\\-]*(?:(?:提醒我|叫我)[\\s,，:：]*)?",
                                         QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression tail("[\\s,，:：、\\-]*$", QRegularExpression::UseUnicodePropertiesOption);
    QString text = rest;
    text.remove(lead);
    text.remove(tail);
    return text;
}

// Quotation marks keep what they hold as text: "明天9点 准备“周五”的材料".
QChar ClosingQuote(QChar c)
{
    static const QString open = QStringLiteral("“‘「『\"");
    static const QString close = QStringLiteral("”’」』\"");
    const qsizetype at = open.indexOf(c);
    return at < 0 ? QChar() : close[at];
}

// The text with what quotation marks hold blanked out, one character for one.
QString WithoutQuoted(const QString& text)
{
    QString masked = text;
    for (qsizetype i = 0; i < masked.size(); ++i) {
        const QChar close = ClosingQuote(masked[i]);
        if (close.isNull())
            continue;
        const qsizetype end = masked.indexOf(close, i + 1);
        for (qsizetype j = i + 1; j < (end < 0 ? masked.size() : end); ++j)
            masked[j] = u'_';
        i = end < 0 ? masked.size() : end;
    }
    return masked;
}

// The first part of the text that looks like a time, a date or a
// repetition the rules did not read ("18:00", "周五", "每天", "至周五",
// a leading "前"); empty when none does.
QString LooksLikeTime(const QString& text)
{
    static const QList<QRegularExpression> patterns = [] {
        const QStringList written{
            "(?<![\\d.])\\d{1,2}:\\d{2}(?::\\d{2})?(?!\\d)",
            "(?:\\d{1,2}|二十[一二三四]?|十[一二]?|[两二三四五六七八九])\\s*[点时](?:半|钟|整|一刻|三刻|\\d{1,2}分?)?",
            "(?:[至到~-]\\s*)?(?:下下个?|下个?|本|这个?)?(?:周|星期|礼拜)[一二三四五六日天]",
            "大?后天|今天|明天|今晚|明早|明晚|今早",
            "每天|每日|天天|每个?(?:周|星期|礼拜|月)|每年|每隔|周末|工作日(?![志记])|节假日|休息日|农历|阴历",
            "\\d{4}\\s*[-/.年]\\s*\\d{1,2}\\s*[-/.月]\\s*\\d{1,2}",
            "(?:\\d{1,2}|[一二三四五六七八九十]{1,3})\\s*月\\s*(?:\\d{1,2}|[一二三四五六七八九十]{1,3})\\s*[日号]",
            "(?<![\\d/])\\d{1,2}/\\d{1,2}(?![\\d/])",
            "(?<![\\d.])\\d{1,2}\\s*[日号](?![楼线院门房室机车厅馆床窗口桌位座店])",
            "\\d+\\s*(?:秒钟?|分钟?|个?小时|个?钟头|天|个?星期|周|个?月)(?:以)?后",
            "^[\\s,，:：]*\\K(?:之前|以前|前)(?![台往面门天年辈端后方排列线锋景途程进提夕])",
            "下班之?前",
            "(?:凌晨|半夜|早上|上午|中午|下午|傍晚|晚上)(?=[\\s,，。]|$|[0-9零一二两三四五六七八九十])",
            "(?<![a-z])(?:a\\.?m\\.?|p\\.?m\\.?)(?![a-z])",
        };
        QList<QRegularExpression> compiled;
        for (const QString& pattern : written)
            compiled << QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption);
        return compiled;
    }();
    const QString masked = WithoutQuoted(text);
    qsizetype first = masked.size();
    QString found;
    for (const QRegularExpression& pattern : patterns) {
        const QRegularExpressionMatch match = pattern.match(masked);
        if (match.hasMatch() && match.capturedStart() < first) {
            first = match.capturedStart();
            found = text.mid(match.capturedStart(), match.capturedLength());
        }
    }
    return found;
}

// The reminder's text from what is left of the words (and its normalised
// copy, one character for one): the repetitions it holds, wherever they
// stand, are read and taken out ("9点 开会 每天"); what still looks like
// a time refuses the words, never goes into the text.
QString ReadText(TReading& r, const QString& words, const QString& normalised)
{
    QString kept;
    for (int pos = 0; pos < normalised.size() && r.refusal.isEmpty();) {
        const QChar close = ClosingQuote(normalised[pos]);
        if (!close.isNull()) {
            const qsizetype end = normalised.indexOf(close, pos + 1);
            const int after = end < 0 ? int(normalised.size()) : int(end) + 1;
            kept += words.mid(pos, after - pos);
            pos = after;
            continue;
        }
        const TCompiledRule* taken = nullptr;
        QRegularExpressionMatch match;
        for (const TCompiledRule& rule : CompiledRules())
            if (rule.rule->anywhere && MatchesAt(rule, r, normalised, pos, match)) {
                taken = &rule;
                break;
            }
        if (!taken) {
            kept += words[pos++];
            continue;
        }
        Apply(*taken, r, match);
        pos = int(match.capturedEnd());
        // The blanks that parted the words taken out go with them.
        if (kept.isEmpty() || kept.back().isSpace())
            pos = SkipSeparators(normalised, pos);
    }
    if (const QString part = LooksLikeTime(kept); !part.isEmpty())
        Refuse(r, QString("看不懂“%1”：时间请写在一起；它若是提醒内容，请加上引号。").arg(part));
    return ReminderText(kept);
}

// The hour of the day of an hour typed without a part of the day ("3点",
// not "下午3点" nor "15:00"): 1 to 6 typed in the daytime is the
// afternoon's; 7 to 12 is the morning's (noon's), unless it is today's and
// the morning has passed while the evening has not. Otherwise it is asked:
// -1 and the question.
int BareHour(TReading& r, bool repeating)
{
    const int hour = r.hour;
    if (!r.spokenHour || hour == 0 || hour > 12)
        return hour;
    if (hour <= 6) {
        const int now = r.now.time().hour();
        if (now >= kDayStartHour && now < kDayEndHour)
            return hour + 12;
        Refuse(r, QString("“%1”是凌晨还是下午？请写上“凌晨”或“下午”。").arg(r.words[pClock]));
        return -1;
    }
    // A day named that comes again ("周五", "12月9日") is the morning's.
    const bool today = !r.day || (r.dayTries == 1 && r.day(0) == r.now.date());
    if (repeating || !today)
        return hour;
    const QDateTime start(r.now.date(), QTime(0, 0));
    const qint64 seconds = qint64(r.minute) * 60 + r.second;
    const bool morningAhead = start.addSecs(hour * 3600LL + seconds) > r.now;
    const bool eveningAhead = start.addSecs((hour + 12) * 3600LL + seconds) > r.now;
    if (morningAhead || !eveningAhead)
        return hour;
    const QString morning = hour == 12 ? "中午" : "上午";
    Refuse(r, QString("“%1”是%2还是晚上？请写上“%2”或“晚上”。").arg(r.words[pClock], morning));
    return -1;
}

// The time of day in minutes from the day's start, past 24:00 into the next
// day; -1 with the reason when it cannot be.
int DayMinutes(TReading& r)
{
    if (r.hour < 0 && r.period < 0)
        return kDefaultMinutes;
    if (r.hour < 0) {
        const int minutes = kPeriods[r.period].defaultMinutes;
        if (minutes < 0)
            Refuse(r, QString("“%1”几点？请写上钟点，例如“%2”。").arg(r.words[pPeriod], r.words[pPeriod] + "3点"));
        return minutes;
    }
    const int hour = r.period < 0 ? BareHour(r, !r.words[pRepeat].isEmpty()) : PeriodHour(kPeriods[r.period], r.hour);
    if (hour < 0 && !r.refusal.isEmpty())
        return -1;
    if (hour < 0) {
        Refuse(r, QString("“%1”和“%2”对不上。").arg(r.words[pPeriod], r.words[pClock]));
        return -1;
    }
    return hour * 60 + r.minute;
}

QTime TimeOf(int minutes, int second)
{
    return QTime(minutes % kDayMinutes / 60, minutes % 60, second);
}

// The days of a repetition moved on by the days its time runs past
// midnight ("每周一 24:00" fires on Tuesdays at 0:00).
int ShiftedWeekDays(int weekDays, int days)
{
    for (int i = 0; i < days % 7; ++i)
        weekDays = ((weekDays << 1) | (weekDays >> 6)) & kAllWeekDays;
    return weekDays;
}

QDateTime WholeSeconds(const QDateTime& moment)
{
    const QTime t = moment.time();
    return QDateTime(moment.date(), QTime(t.hour(), t.minute(), t.second()));
}

// The first turn of the day whose moment is ahead of now.
QDateTime FirstMomentAhead(TReading& r, int minutes)
{
    if (!r.day) {
        const QDate today = r.now.date();
        r.day = [today](int k) { return today.addDays(k); };
        r.dayTries = 2;
    }
    QDateTime moment;
    for (int k = 0; k < r.dayTries; ++k) {
        const QDate day = r.day(k);
        if (!day.isValid())
            continue;
        moment = QDateTime(day.addDays(minutes / kDayMinutes), TimeOf(minutes, r.second));
        if (moment > r.now)
            return moment;
    }
    Refuse(r, moment.isValid() ? QString("这个时间已经过去了：%1。").arg(moment.toString("yyyy-MM-dd H:mm"))
                               : QString("没有这一天：“%1”。").arg(r.words[pDay]));
    return {};
}

// A repetition's days: the week's moved past midnight, or a repeat beyond
// them (which cannot be at 24:00, nor days early unless yearly).
void ResolveRepeat(TReading& r, int minutes, TQuickReminder& reminder)
{
    reminder.ReDay = true;
    reminder.AlamTime = TimeOf(minutes, r.second);
    if (!r.repeat.IsSet()) {
        reminder.WeekDays = ShiftedWeekDays(r.weekDays, minutes / kDayMinutes);
        if (r.advance > 0)
            Refuse(r, "只有每年的提醒可以提前几天。");
        return;
    }
    reminder.Repeat = r.repeat;
    reminder.Repeat.Advance = r.advance;
    if (minutes >= kDayMinutes)
        Refuse(r, QString("“%1”%2：请写“0:00”，定在第二天。").arg(r.words[pRepeat], r.words[pClock]));
    else if (const QString problem = RepeatProblem(reminder.Repeat); !problem.isEmpty())
        Refuse(r, problem);
}

// The reminder the reading stands for, refused with the reason it gave.
TQuickReminder Resolve(TReading& r, const QString& text)
{
    TQuickReminder reminder;
    reminder.ReMark = text;
    if (!r.clockNeeded.isEmpty() && r.hour < 0)
        Refuse(r, QString("“%1”是几点？请写上钟点，例如“周五18点前”。").arg(r.clockNeeded));
    const int minutes = r.words[pMoment].isEmpty() ? DayMinutes(r) : 0;
    if (!r.words[pRepeat].isEmpty() && r.refusal.isEmpty()) {
        ResolveRepeat(r, minutes, reminder);
    } else if (!r.words[pAdvance].isEmpty()) {
        Refuse(r, "只有每年的提醒可以提前几天。");
    } else if (r.refusal.isEmpty()) {
        const QDateTime moment =
            r.words[pMoment].isEmpty() ? FirstMomentAhead(r, minutes) : WholeSeconds(r.now).addSecs(r.momentSeconds);
        if (moment <= r.now && r.refusal.isEmpty())
            Refuse(r, QString("这个时间已经过去了：“%1”。").arg(r.words[pMoment]));
        reminder.AlamDate = moment.date();
        reminder.AlamTime = moment.time();
    }
    reminder.Refusal = r.refusal;
    if (reminder.Understood() && text.isEmpty())
        reminder.Refusal = QString("已看懂时间（%1），请在后面写上提醒内容。").arg(reminder.WhenText());
    return reminder;
}

TQuickReminder Refused(const QString& reason)
{
    TQuickReminder reminder;
    reminder.Refusal = reason;
    return reminder;
}

// "喝水 10分钟后": the time after the text, parted from it by a blank. The
// longest tail that reads as a time to its end.
std::optional<TQuickReminder> ParseTimeLast(const QString& words, const QString& text, const QDateTime& now)
{
    for (int pos = 1; pos < text.size(); ++pos) {
        if (!text[pos - 1].isSpace() || text[pos].isSpace())
            continue;
        TReading r;
        r.now = now;
        int read = 0;
        const int end = ReadRules(r, text, pos, &read);
        if (read > 0 && !r.refusal.isEmpty())
            return Refused(r.refusal);
        if (read > 0 && SkipSeparators(text, end) == text.size()) {
            const QString remark = ReadText(r, words.left(pos), text.left(pos));
            return Resolve(r, remark);
        }
    }
    return std::nullopt;
}
} // namespace

QString TQuickReminder::WhenText() const
{
    const QString clock = AlamTime.toString(AlamTime.second() ? "H:mm:ss" : "H:mm");
    if (ReDay)
        return TAlam::RepeatText(WeekDays, Repeat) + " " + clock;
    return TAlam::DayText(AlamDate) + " " + clock;
}

QString TQuickReminder::Description() const
{
    return (ReDay ? WhenText() : "将于 " + WhenText()) + " 提醒：" + ReMark;
}

void TQuickReminder::FillInto(TAlam& store) const
{
    store.AlamTime = AlamTime;
    store.AlamDate = ReDay ? QDate() : AlamDate;
    store.ReDay = ReDay;
    store.WeekDays = WeekDays;
    store.Repeat = Repeat;
    store.ReMark = ReMark;
}

TQuickReminder ParseReminder(const QString& words, const QDateTime& now)
{
    static const QRegularExpression askedFor("^\\s*(?:请)?(?:提醒我|叫我)\\s*",
                                             QRegularExpression::UseUnicodePropertiesOption);
    const QString trimmed = QString(words).remove(askedFor);
    const QString text = Normalised(trimmed);
    TReading r;
    r.now = now;
    int read = 0;
    const int end = ReadRules(r, text, 0, &read);
    if (!r.refusal.isEmpty())
        return Refused(r.refusal);
    const int rest = SkipSeparators(text, end);
    const QString unread = TimeClosed(r) ? QString() : UnreadTime(text.mid(rest));
    if (read > 0 && unread.isEmpty()) {
        const QString remark = ReadText(r, trimmed.mid(end), text.mid(end));
        return Resolve(r, remark);
    }
    if (read == 0)
        if (const std::optional<TQuickReminder> last = ParseTimeLast(trimmed, text, now))
            return *last;
    if (!unread.isEmpty())
        return Refused(QString("看不懂“%1”。").arg(trimmed.mid(rest, unread.size())));
    return Refused("没有看到提醒的时间。请先写时间再写内容，例如“明天下午3点 交报告”、“10分钟后 喝水”、“每周一 9:30 "
                   "例会”。");
}

QString AddReminderFromWords(const QString& words, int* id)
{
    const TQuickReminder reminder = ParseReminder(words, TClock::Now());
    if (!reminder.Understood())
        RaiseError(reminder.Refusal);
    DbAccess->CheckWritable();
    TAlam store;
    reminder.FillInto(store);
    store.InsertAlam();
    if (id)
        *id = DbGetIntValue("select last_insert_rowid()");
    return reminder.Description();
}
