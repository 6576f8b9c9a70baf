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

// What the rules have read so far. Each part of a time is claimed once; the
// clock's hour stays as typed until the part of the day ("下午") is known.
enum TPart { pDay, pClock, pPeriod, pRepeat, pMoment, kPartCount };

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
    int period = -1;                       // into kPeriods
    int weekDays = 0;                      // of a repetition
    qint64 momentSeconds = 0;              // counted from now ("10分钟后")
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
    static const char* const nouns[] = {"日子", "钟点", "时段", "重复方式", "时间"};
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

const TPeriod kPeriods[] = {
    {"凌晨", {{0, 6, 0}, {12, 12, -12}}, -1},
    {"早上|早晨|清晨", {{0, 12, 0}}, 8 * 60},
    {"上午", {{0, 12, 0}}, 9 * 60},
    {"中午", {{11, 14, 0}, {1, 2, 12}}, 12 * 60},
    {"下午", {{1, 11, 12}, {12, 23, 0}}, 15 * 60},
    {"傍晚", {{4, 8, 12}, {16, 20, 0}}, 18 * 60},
    {"晚上|夜里|夜间", {{0, 4, 24}, {5, 12, 12}, {17, 24, 0}}, 20 * 60},
};

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
    for (int i = 0; i < int(std::size(kPeriods)); ++i)
        if (QString(kPeriods[i].words).split('|').contains(period))
            r.period = i;
}

void SetClock(TReading& r, const QString& word, int hour, int minute, int second = 0)
{
    if (!Claim(r, pClock, word))
        return;
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

void SetRepeat(TReading& r, const QString& word, int weekDays)
{
    if (Claim(r, pRepeat, word))
        r.weekDays = weekDays;
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

// The rules, tried in this order where the last one stopped; the first that
// matches is taken, and the text begins where none does. In a pattern %N is
// a number (3, 十二, 两) and %W a day of the week (一 .. 日, 天). A new rule
// is a pattern and what it sets:
//   SetFixedDay   a day that cannot move; a time on it that has passed is refused;
//   SetComingDay  a day that comes again: its first turn still ahead;
//   SetClock      the time of day as typed, "下午" and the like applied later;
//   SetPeriod     a part of the day: its hours and its time without an hour;
//   SetMoment     a moment counted from now, in seconds;
//   SetRepeat     a repetition: TAlam's days of the week (0 every day);
//   Refuse        words the reminders cannot hold, with the reason.
// Once the clock or a moment from now is read, only the rules marked
// afterClock are tried. A time of day without a day is today's, or
// tomorrow's once it has passed.
struct TRule
{
    const char* pattern;
    void (*apply)(TReading& r, const TMatch& m);
    bool afterClock = false; // also tried once the clock or a moment from now was read
};

const TRule kRules[] = {
    // Repetitions. "周末" always repeats.
    {"每天|每日|天天", [](TReading& r, const TMatch& m) { SetRepeat(r, m.captured(), kEveryDay); }},
    {"(?:每个?)?工作日", [](TReading& r, const TMatch& m) { SetRepeat(r, m.captured(), kWorkDays); }},
    {"每?个?周末", [](TReading& r, const TMatch& m) { SetRepeat(r, m.captured(), kWeekend); }},
    {"每(?:周|星期|礼拜)(?<from>%W)(?:至|到|-|~)(?:周|星期|礼拜)?(?<to>%W)",
     [](TReading& r, const TMatch& m) {
         SetRepeat(r, m.captured(), WeekDayRange(m.captured("from")[0], m.captured("to")[0]));
     }},
    {"每(?:周|星期|礼拜)(?<days>%W(?:[、，,和及]?(?:周|星期|礼拜)?%W)*)",
     [](TReading& r, const TMatch& m) { SetRepeat(r, m.captured(), WeekDayMask(m.captured("days"))); }},
    {"每(?:周|星期|礼拜)",
     [](TReading& r, const TMatch& m) {
         Refuse(r, QString("“%1”是哪几天？请写上日子，例如“每周一三五”。").arg(m.captured()));
     }},
    {"每(?:隔|个?月|年|小时|个小时|分钟|季度|%N\\s*(?:天|日|周|个?星期|个?小时|分钟|个?月|年))\\S*",
     [](TReading& r, const TMatch& m) {
         Refuse(r, QString("看不懂“%1”：提醒只能不重复、每天或每周的某几天重复。").arg(m.captured()));
     }},
    {"从\\S{1,12}?(?:起|开始)",
     [](TReading& r, const TMatch& m) { Refuse(r, QString("看不懂“%1”：提醒不能定从哪天开始。").arg(m.captured())); }},

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

    // Parts of the day, before the hour.
    {"(?<p>凌晨|早上|早晨|清晨|上午|中午|下午|傍晚|晚上|夜里|夜间)",
     [](TReading& r, const TMatch& m) { SetPeriod(r, m.captured(), m.captured("p")); }},

    // The clock: 9:30, 21:00:15, 9点, 9点半, 8点一刻, 8点三刻, 9点05分, 十点过五分.
    {"(?<h>\\d{1,2}):(?<m>\\d{2})(?::(?<s>\\d{2}))?(?!\\d)",
     [](TReading& r, const TMatch& m) {
         SetClock(r, m.captured(), Number(m, "h"), Number(m, "m"), m.captured("s").isEmpty() ? 0 : Number(m, "s"));
     },
     true},
    {"(?<h>%N)\\s*[点时](?:钟)?(?:(?<half>半)|(?<quarter>一刻)|(?<quarters>三刻)|过?(?<m>%N)分?)?",
     [](TReading& r, const TMatch& m) {
         const int minute = !m.captured("half").isEmpty()       ? 30
                            : !m.captured("quarter").isEmpty()  ? 15
                            : !m.captured("quarters").isEmpty() ? 45
                            : m.captured("m").isEmpty()         ? 0
                                                                : Number(m, "m");
         SetClock(r, m.captured(), Number(m, "h"), minute);
     },
     true},
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
            compiled.push_back({QRegularExpression("(?:" + pattern + ")"), &rule});
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
            match = rule.pattern.match(text, at, QRegularExpression::NormalMatch,
                                       QRegularExpression::AnchorAtOffsetMatchOption);
            if (match.hasMatch() && match.capturedLength() > 0) {
                found = &rule;
                break;
            }
        }
        if (!found)
            return pos;
        if (UnreadNumber(found->pattern, match))
            Refuse(r, QString("看不懂“%1”。").arg(match.captured()));
        else
            found->rule->apply(r, match);
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
    const int hour = r.period < 0 ? r.hour : PeriodHour(kPeriods[r.period], r.hour);
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

// The reminder the reading stands for, refused with the reason it gave.
TQuickReminder Resolve(TReading& r, const QString& text)
{
    TQuickReminder reminder;
    reminder.ReMark = text;
    const int minutes = r.words[pMoment].isEmpty() ? DayMinutes(r) : 0;
    if (!r.words[pRepeat].isEmpty() && r.refusal.isEmpty()) {
        reminder.ReDay = true;
        reminder.WeekDays = ShiftedWeekDays(r.weekDays, minutes / kDayMinutes);
        reminder.AlamTime = TimeOf(minutes, r.second);
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
        if (read > 0 && SkipSeparators(text, end) == text.size())
            return Resolve(r, ReminderText(words.left(pos)));
    }
    return std::nullopt;
}
} // namespace

QString TQuickReminder::WhenText() const
{
    const QString clock = AlamTime.toString(AlamTime.second() ? "H:mm:ss" : "H:mm");
    if (ReDay)
        return TAlam::RepeatText(WeekDays) + " " + clock;
    static const char* const days[] = {"周一", "周二", "周三", "周四", "周五", "周六", "周日"};
    return AlamDate.toString("yyyy-MM-dd ") + days[AlamDate.dayOfWeek() - 1] + " " + clock;
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
    if (read > 0 && unread.isEmpty())
        return Resolve(r, ReminderText(trimmed.mid(end)));
    if (read == 0)
        if (const std::optional<TQuickReminder> last = ParseTimeLast(trimmed, text, now))
            return *last;
    if (!unread.isEmpty())
        return Refused(QString("看不懂“%1”。").arg(trimmed.mid(rest, unread.size())));
    return Refused("没有看到提醒的时间。请先写时间再写内容，例如“明天下午3点 交报告”、“10分钟后 喝水”、“每周一 9:30 "
                   "例会”。");
}

QString AddReminderFromWords(const QString& words)
{
    const TQuickReminder reminder = ParseReminder(words, TClock::Now());
    if (!reminder.Understood())
        RaiseError(reminder.Refusal);
    DbAccess->CheckWritable();
    TAlam store;
    reminder.FillInto(store);
    store.InsertAlam();
    return reminder.Description();
}
