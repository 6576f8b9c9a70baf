#include "reminders/UntAlam.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "groups/DeleteKeeper.h"
#include "reminders/Holidays.h"

#include <QHash>
#include <QSet>
#include <algorithm>

namespace {
const QString kInsertDaily = "Insert into Alam(AlamTime,ReMark)  values('%s','%s') ";
const QString kInsertWeekly = "Insert into Alam(AlamTime,ReMark,WeekDays)  values('%s','%s',%s) ";
const QString kInsertOnce = "Insert into Alam(AlamTime,AlamDate,ReDay,ReMark)  values('%s','%s','%s','%s') ";
const QString kInsertRepeat = "Insert into Alam(AlamTime,ReMark,RepeatKind,RepeatMonth,RepeatDay,AdvanceDays)  "
                              "values('%s','%s',%s,%s,%s,%s) ";
const QString kList =
    "select ID,IIf(ReDay,'每天  '+format(Alamtime,'HH:mm:ss'),format(Alamtime+AlamDate,"
    "'yyyy-mm-dd HH:mm:ss')) ,  Remark,IIF(bLook,'看过的',''),"
    "ReDay,WeekDays,AlamTime,AlamDate,SnoozeAt,RepeatKind,RepeatMonth,RepeatDay,AdvanceDays from Alam ";
// The repeats beyond 每天 and 每周, which the filters by date add to their rows.
const QString kRepeatClause = "where RepeatKind<>0 ";
const QString kDelete = "delete from Alam where ID=%s ";
const QString kLoad = "select * from Alam where ID=%s ";
const QString kUpdate = "update Alam set AlamTime='%s',AlamDate='%s',ReDay='%s',Remark='%s',bLook=0,WeekDays=%s,"
                        "SnoozeAt=NULL where ID=%s  ";
const QString kUpdateRepeat = "update Alam set AlamTime='%s',AlamDate='%s',ReDay='-1',Remark='%s',bLook=0,WeekDays=0,"
                              "SnoozeAt=NULL,RepeatKind=%s,RepeatMonth=%s,RepeatDay=%s,AdvanceDays=%s where ID=%s  ";
// Before the statement for the first kinds, which names no repeat: a
// reminder changed into one of them no longer has one.
const QString kClearRepeat =
    "update Alam set RepeatKind=0,RepeatMonth=0,RepeatDay=0,AdvanceDays=0 where ID=%s and RepeatKind<>0";
const QString kMarkSeen = "update Alam set bLook=1 where ID=%s";
const QString kMarkSeenMany = "update Alam set bLook=1 where ID in (%s)";
const QString kDeleteMany = "delete from Alam where ID in (%s)";
const QString kSnoozeOnce = "update Alam set SnoozeAt=%s,bLook=0 where ReDay=0 and ID in (%s)";
const QString kSnoozeDaily = "update Alam set SnoozeAt=%s where ReDay<>0 and ID in (%s)";
const QString kDue = "select ID,AlamTime,AlamDate,ReDay,WeekDays,SnoozeAt,ReMark,bLook,RepeatKind,RepeatMonth,"
                     "RepeatDay,AdvanceDays from Alam where %s";
// A repeating reminder is left for later whether or not it was ever seen:
// its seen flag tells nothing of this firing.
const QString kLeaveForLater = "update Alam set SnoozeAt=0 where (ReDay<>0 or bLook=0) and ID in (%s)";
const QString kLeftForLater = "select ID,AlamTime,AlamDate,ReMark,ReDay,WeekDays,RepeatKind,RepeatMonth,RepeatDay,"
                              "AdvanceDays from Alam where SnoozeAt=0 and (ReDay<>0 or bLook=0)";
const QString kForgetLeft = "update Alam set SnoozeAt=NULL where ReDay<>0 and SnoozeAt=0 and ID in (%s)";
const QString kLastChecked = "select LastChecked from SysSet";
const QString kStoreLastChecked = "update SysSet set LastChecked=%s";

// OLE dates counted in whole seconds, as the reminders' moments are.
const QDate kOleDay0(1899, 12, 30);
constexpr qint64 kDaySeconds = 86400;

qint64 OleSeconds(double value)
{
    return qRound64(value * double(kDaySeconds));
}

qint64 OleSeconds(const QDateTime& moment)
{
    return kOleDay0.daysTo(moment.date()) * kDaySeconds + moment.time().msecsSinceStartOfDay() / 1000;
}

QDateTime FromOleSeconds(qint64 seconds)
{
    const qint64 days = seconds >= 0 ? seconds / kDaySeconds : -((-seconds + kDaySeconds - 1) / kDaySeconds);
    return QDateTime(kOleDay0.addDays(days), QTime::fromMSecsSinceStartOfDay(int(seconds - days * kDaySeconds) * 1000));
}

QTime TimeOfDay(double oleTime)
{
    const qint64 seconds = ((OleSeconds(oleTime) % kDaySeconds) + kDaySeconds) % kDaySeconds;
    return QTime::fromMSecsSinceStartOfDay(int(seconds * 1000));
}

// Every day is stored as 0, so that one text and one rule cover it.
int NormalWeekDays(int weekDays)
{
    weekDays &= kAllWeekDays;
    return weekDays == kAllWeekDays ? kEveryDay : weekDays;
}

bool FiresOnWeekDay(int weekDays, const QDate& day)
{
    weekDays = NormalWeekDays(weekDays);
    return weekDays == kEveryDay || (weekDays & (1 << (day.dayOfWeek() - 1)));
}

// The official calendar, read once for a list or a tick, and only when a
// reminder follows it.
class TCalendarOnce
{
public:
    const THolidayCalendar* For(const TAlamRepeat& repeat)
    {
        if (repeat.Official() && !m_calendar)
            m_calendar = &THolidayCalendar::Current();
        return m_calendar;
    }

private:
    const THolidayCalendar* m_calendar = nullptr;
};

QDate NextDay(int weekDays, const TAlamRepeat& repeat, const QDate& from, TCalendarOnce& calendar)
{
    if (repeat.IsSet())
        return NextRepeatDay(repeat, from, calendar.For(repeat));
    for (QDate day = from; day <= from.addDays(7); day = day.addDays(1))
        if (FiresOnWeekDay(weekDays, day))
            return day;
    return {};
}

// The last firing of a repeating reminder at or before now (a year back at
// most); now itself when there is none.
QDateTime LastFiring(const QTime& time, int weekDays, const TAlamRepeat& repeat, const QDateTime& now,
                     TCalendarOnce& calendar)
{
    for (QDate day = now.date(); day > now.date().addDays(-400); day = day.addDays(-1))
        if (QDateTime(day, time) <= now && NextDay(weekDays, repeat, day, calendar) == day)
            return QDateTime(day, time);
    return now;
}

// "明天：", "后天：", "3 天后：" before the text of a reminder days early.
QString AdvanceNote(int days)
{
    return days <= 0 ? QString() : days == 1 ? "明天：" : days == 2 ? "后天：" : QString("%1 天后：").arg(days);
}

// The row's repeat, from the four columns that follow `first`.
TAlamRepeat RepeatAt(const TDataSet& set, int first)
{
    return {set.AsInteger(first), set.AsInteger(first + 1), set.AsInteger(first + 2), set.AsInteger(first + 3)};
}

// The next firing of a repeating reminder at or after now, its extra
// (snoozed) firing included.
QDateTime NextDaily(const QTime& time, int weekDays, const TAlamRepeat& repeat, const QVariant& snoozeAt,
                    const QDateTime& now, TCalendarOnce& calendar)
{
    QDateTime next;
    const QDate today = NextDay(weekDays, repeat, now.date(), calendar);
    if (today.isValid())
        next = QDateTime(today, time);
    if (next.isValid() && next < now) {
        const QDate later = NextDay(weekDays, repeat, now.date().addDays(1), calendar);
        next = later.isValid() ? QDateTime(later, time) : QDateTime();
    }
    if (!snoozeAt.isNull()) {
        const QDateTime snoozed = FromOleSeconds(OleSeconds(snoozeAt.toDouble()));
        if (snoozed >= now && (!next.isValid() || snoozed < next))
            next = snoozed;
    }
    return next;
}

const char* const kFilterClauses[] = {
    "where AlamDate=Date() ",
    "where AlamDate=Date()+1 ",
    "where AlamDate+AlamTime<Now() and bLook=0 and ReDay = 0 ",
    "where bLook<>0 and ReDay = 0 ",
    "where ReDay <> 0 ",
    "",
};

// The ID goes into the statement without quotes, so only a whole number may
// pass: anything else would be read as part of the statement.
QString IdText(const QString& id)
{
    bool ok = false;
    const qlonglong value = id.trimmed().toLongLong(&ok);
    if (!ok)
        RaiseError("无效的提醒编号：" + id);
    return QString::number(value);
}

QString BoolText(bool value)
{
    return value ? "-1" : "0";
}

// The moment a snooze column holds; invalid when there is none.
QDateTime SnoozeMoment(const QVariant& snoozeAt)
{
    return snoozeAt.isNull() ? QDateTime() : FromOleSeconds(OleSeconds(snoozeAt.toDouble()));
}

bool SnoozePending(const QDateTime& snoozeAt, const QDateTime& now)
{
    return snoozeAt.isValid() && snoozeAt >= now;
}

// A one-off reminder is missed once its moment has passed unseen, no snooze
// is pending and its alert is not on screen (it is being answered).
bool IsMissed(const QDateTime& moment, const QDateTime& snoozeAt, bool seen, bool onScreen, const QDateTime& now)
{
    return !seen && !onScreen && !SnoozePending(snoozeAt, now) && moment < now;
}

// Firings oldest first, those of one second by ID.
bool EarlierFiring(const TDueAlam& a, const TDueAlam& b)
{
    return a.Moment != b.Moment ? a.Moment < b.Moment : a.Id.toLongLong() < b.Id.toLongLong();
}

QString OleText(double value)
{
    return QString::number(value, 'g', 17);
}

void CheckRepeat(const TAlamRepeat& repeat)
{
    if (const QString problem = RepeatProblem(repeat); !problem.isEmpty())
        RaiseError(problem);
}

QString IdList(const QStringList& ids)
{
    QStringList numbers;
    for (const QString& id : ids)
        numbers << IdText(id);
    return numbers.join(',');
}
} // namespace

QString TAlam::RepeatText(int weekDays)
{
    static const QString names[] = {"一", "二", "三", "四", "五", "六", "日"};
    weekDays = NormalWeekDays(weekDays);
    if (weekDays == kEveryDay)
        return "每天";
    int first = 0;
    while (!(weekDays & (1 << first)))
        ++first;
    int last = first;
    while (last < 6 && (weekDays & (1 << (last + 1))))
        ++last;
    // Three days or more in a row, and no others: a range.
    if (last - first >= 2 && weekDays == ((1 << (last + 1)) - (1 << first)))
        return "周" + names[first] + "至周" + names[last];
    QStringList days;
    for (int day = 0; day < 7; ++day)
        if (weekDays & (1 << day))
            days << names[day];
    return "每周" + days.join("、");
}

QString TAlam::DayText(const QDate& day)
{
    static const char* const names[] = {"周一", "周二", "周三", "周四", "周五", "周六", "周日"};
    return day.toString("yyyy-MM-dd ") + names[day.dayOfWeek() - 1];
}

QStringList TAlam::Agenda(const QDateTime& from, int days)
{
    const qint64 first = from.toSecsSinceEpoch();
    QStringList lines;
    for (const TDueAlam& due : DueBetween(first, first + days * kDaySeconds - 1, false)) {
        const QTime time = due.Moment.time();
        lines << DayText(due.Moment.date()) + " " + time.toString(time.second() ? "HH:mm:ss" : "HH:mm") + "\t" +
                     due.ReMark.simplified();
    }
    return lines;
}

QString TAlam::RepeatText(int weekDays, const TAlamRepeat& repeat)
{
    return repeat.IsSet() ? RepeatName(repeat) : RepeatText(weekDays);
}

QString TAlam::ListTimeText(const QString& listed, bool daily, int weekDays, const TAlamRepeat& repeat)
{
    weekDays = NormalWeekDays(weekDays);
    if (daily && (weekDays != kEveryDay || repeat.IsSet()) && listed.startsWith("每天"))
        return RepeatText(weekDays, repeat) + listed.mid(2);
    return listed;
}

QString TAlam::SnoozeText(const QDateTime& snoozeAt, const QDateTime& now)
{
    const qint64 days = now.date().daysTo(snoozeAt.date());
    if (days == 0)
        return kAlamSnoozeMark + snoozeAt.toString("HH:mm");
    if (days == 1)
        return kAlamSnoozeMark + "明天 " + snoozeAt.toString("HH:mm");
    return kAlamSnoozeMark + snoozeAt.toString("yyyy-MM-dd HH:mm");
}

QDate TAlam::NextFiringDay(int weekDays, const TAlamRepeat& repeat, const QDate& from)
{
    TCalendarOnce calendar;
    return NextDay(weekDays, repeat, from, calendar);
}

QString TAlam::ListSQL(AlamFilter filter)
{
    const int index = qBound(0, int(filter), int(afAll));
    return kList + kFilterClauses[index];
}

void TAlam::InsertAlam()
{
    CheckRepeat(Repeat);
    if (Repeat.IsSet())
        LastSQL = FormatSQL(kInsertRepeat, {TimeText(AlamTime), SqlText(ReMark), QString::number(Repeat.Kind),
                                            QString::number(Repeat.Month), QString::number(Repeat.Day),
                                            QString::number(Repeat.Advance)});
    else if (ReDay && NormalWeekDays(WeekDays) != kEveryDay)
        LastSQL =
            FormatSQL(kInsertWeekly, {TimeText(AlamTime), SqlText(ReMark), QString::number(NormalWeekDays(WeekDays))});
    else if (ReDay)
        LastSQL = FormatSQL(kInsertDaily, {TimeText(AlamTime), SqlText(ReMark)});
    else
        LastSQL = FormatSQL(kInsertOnce, {TimeText(AlamTime), DateText(AlamDate), BoolText(false), SqlText(ReMark)});
    DbExecSQL(LastSQL);
}

QList<QStringList> TAlam::LoadAlamList(AlamFilter filter, QList<QDateTime>* nextDue, const QStringList& onScreen)
{
    const QDateTime now = TClock::Now();
    TCalendarOnce calendar;
    QList<QStringList> rows;
    QList<QDateTime> dues;
    QSet<QString> listed;
    // The rows of a statement; with a day, only those that fire on it.
    const auto read = [&](const QString& sql, const QDate& firingOn) {
        LastSQL = sql;
        const std::unique_ptr<TDataSet> set = DbAccess->Query(LastSQL);
        rows.reserve(rows.size() + set->RecordCount());
        for (set->First(); !set->Eof(); set->Next()) {
            QStringList row{set->AsString(0), set->AsString(1), set->AsString(2), set->AsString(3)};
            const bool daily = set->AsInteger(4) != 0;
            const int weekDays = NormalWeekDays(set->AsInteger(5));
            const TAlamRepeat repeat = RepeatAt(*set, 9);
            if (listed.contains(row[0]) ||
                (firingOn.isValid() && NextDay(weekDays, repeat, firingOn, calendar) != firingOn))
                continue;
            const QDateTime snoozeAt = SnoozeMoment(set->Value(8));
            row[1] = ListTimeText(row[1], daily, weekDays, repeat);
            QDateTime due;
            if (daily) {
                due = NextDaily(TimeOfDay(set->Value(6).toDouble()), weekDays, repeat, set->Value(8), now, calendar);
                // Said where it fires in a year whose schedule is not known.
                const int year = due.isValid() ? due.date().year() : now.date().year();
                if (repeat.Official() && !calendar.For(repeat)->HasSchedule(year))
                    row[3] = MissingScheduleText(year);
            } else {
                const QDateTime moment =
                    FromOleSeconds(OleSeconds(set->Value(6).toDouble() + set->Value(7).toDouble()));
                due = moment >= now ? moment : SnoozePending(snoozeAt, now) ? snoozeAt : QDateTime();
                if (IsMissed(moment, snoozeAt, !row[3].isEmpty(), onScreen.contains(row[0]), now))
                    row[3] = kAlamMissedText;
            }
            if (SnoozePending(snoozeAt, now))
                row[3] = SnoozeText(snoozeAt, now);
            // The statement's clause finds past unseen rows; the rule above
            // also leaves out those snoozed or on screen.
            if (filter == afMissed && row[3] != kAlamMissedText)
                continue;
            listed.insert(row[0]);
            rows.append(row);
            dues.append(due);
        }
    };
    read(ListSQL(filter), QDate());
    // Today's and tomorrow's reminders are those of the day, by date (as
    // the statement finds them) or by a monthly, yearly or official repeat.
    if (filter == afToday || filter == afTomorrow)
        read(kList + kRepeatClause, now.date().addDays(filter == afTomorrow ? 1 : 0));
    if (nextDue)
        *nextDue = dues;
    return rows;
}

QList<qint64> TAlam::DeleteAlam(const QString& id, bool seen)
{
    LastSQL = FormatSQL(kDelete, {IdText(id)});
    QList<qint64> entries;
    DbAccess->Batch([&] {
        if (seen)
            DbExecSQL(FormatSQL(kMarkSeen, {IdText(id)}));
        entries = DeleteKeeper().KeepReminders({id});
        DbExecSQL(LastSQL);
    });
    return entries;
}

void TAlam::LoadAlam(const QString& id)
{
    LastSQL = FormatSQL(kLoad, {IdText(id)});
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    const TDataSet& set = *query;
    // An empty result reads as zero and empty values, as the fields of a missing row.
    AlamTime = Ole::ToTime(set.AsFloat("AlamTime"));
    AlamDate = Ole::ToDate(set.AsFloat("AlamDate"));
    ReDay = set.AsBoolean("ReDay");
    WeekDays = ReDay ? NormalWeekDays(set.AsInteger("WeekDays")) : kEveryDay;
    Repeat = ReDay ? TAlamRepeat{set.AsInteger("RepeatKind"), set.AsInteger("RepeatMonth"), set.AsInteger("RepeatDay"),
                                 set.AsInteger("AdvanceDays")}
                   : TAlamRepeat();
    ReMark = set.AsString("ReMark");
}

void TAlam::UpdateAlam(const QString& id)
{
    CheckRepeat(Repeat);
    if (Repeat.IsSet()) {
        LastSQL = FormatSQL(kUpdateRepeat, {TimeText(AlamTime), DateText(AlamDate), SqlText(ReMark),
                                            QString::number(Repeat.Kind), QString::number(Repeat.Month),
                                            QString::number(Repeat.Day), QString::number(Repeat.Advance), IdText(id)});
        DbExecSQL(LastSQL);
        return;
    }
    DbAccess->Batch([&] {
        LastSQL = FormatSQL(kClearRepeat, {IdText(id)});
        DbExecSQL(LastSQL);
        LastSQL = FormatSQL(kUpdate, {TimeText(AlamTime), DateText(AlamDate), BoolText(ReDay), SqlText(ReMark),
                                      QString::number(ReDay ? NormalWeekDays(WeekDays) : kEveryDay), IdText(id)});
        DbExecSQL(LastSQL);
    });
}

void TAlam::MarkAlamSeen(const QString& id)
{
    LastSQL = FormatSQL(kMarkSeen, {IdText(id)});
    DbExecSQL(LastSQL);
}

void TAlam::MarkAlamsSeen(const QStringList& ids)
{
    if (ids.isEmpty())
        return;
    LastSQL = FormatSQL(kMarkSeenMany, {IdList(ids)});
    DbExecSQL(LastSQL);
}

QList<qint64> TAlam::DeleteAlams(const QStringList& ids, bool seen)
{
    if (ids.isEmpty())
        return {};
    LastSQL = FormatSQL(kDeleteMany, {IdList(ids)});
    QList<qint64> entries;
    DbAccess->Batch([&] {
        if (seen)
            DbExecSQL(FormatSQL(kMarkSeenMany, {IdList(ids)}));
        entries = DeleteKeeper().KeepReminders(ids);
        DbExecSQL(LastSQL);
    });
    return entries;
}

void TAlam::SnoozeAlams(const QStringList& ids, const QDateTime& until)
{
    if (ids.isEmpty())
        return;
    const QString list = IdList(ids);
    const QDateTime moment = FromOleSeconds(OleSeconds(until));
    const QString at = OleText(Ole::FromDateTime(moment));
    LastSQL = FormatSQL(kSnoozeOnce, {at, list}) + "@#@" + FormatSQL(kSnoozeDaily, {at, list});
    DbExecSQL(LastSQL);
}

QList<TDueAlam> TAlam::DueBetween(qint64 from, qint64 to, bool missed)
{
    if (to < from)
        return {};
    const QDateTime first = QDateTime::fromSecsSinceEpoch(from);
    const QDateTime last = QDateTime::fromSecsSinceEpoch(to);
    // Every firing's time of day lies in the span's, so that is asked of
    // the index on AlamTime (two ranges across midnight); a span of a day
    // or more reads every row. Snoozed firings by their own index.
    const auto fraction = [](double seconds) { return QString::number(seconds / double(kDaySeconds), 'g', 17); };
    const auto times = [&](qint64 a, qint64 b) {
        return "(AlamTime >= " + fraction(a - 0.5) + " and AlamTime <= " + fraction(b + 0.5) + ")";
    };
    QString where = "1=1";
    if (to - from + 1 < kDaySeconds) {
        const qint64 a = first.time().msecsSinceStartOfDay() / 1000;
        const qint64 b = last.time().msecsSinceStartOfDay() / 1000;
        where = first.date() == last.date() ? times(a, b) : times(a, kDaySeconds - 1) + " or " + times(0, b);
        where += " or (SnoozeAt >= " + fraction(OleSeconds(first) - 0.5) +
                 " and SnoozeAt <= " + fraction(OleSeconds(last) + 0.5) + ")";
    }
    LastSQL = FormatSQL(kDue, {where});
    const std::unique_ptr<TDataSet> set = DbAccess->Query(LastSQL);
    TCalendarOnce calendar;
    QList<TDueAlam> due;
    const auto add = [&](const TDueAlam& firing) {
        const qint64 second = firing.Moment.toSecsSinceEpoch();
        if (second >= from && second <= to)
            due.append(firing);
    };
    for (set->First(); !set->Eof(); set->Next()) {
        const QString id = set->AsString(0);
        const QString remark = set->AsString(6);
        if (set->AsInteger(3) == 0) {
            if (missed && set->AsInteger(7) != 0)
                continue;
            const QDateTime moment = FromOleSeconds(OleSeconds(set->Value(1).toDouble() + set->Value(2).toDouble()));
            const QDateTime snoozeAt = SnoozeMoment(set->Value(5));
            // Missed is decided by its last firing: one snoozed past the
            // span is not missed, whenever its own time was.
            if (!missed || !snoozeAt.isValid() || snoozeAt < moment)
                add({id, moment, remark, false});
            if (snoozeAt.isValid())
                add({id, snoozeAt, remark, false});
            continue;
        }
        const QTime time = TimeOfDay(set->Value(1).toDouble());
        const int weekDays = set->AsInteger(4);
        const TAlamRepeat repeat = RepeatAt(*set, 8);
        // A birthday a day early says that it is tomorrow's.
        const QString said = AdvanceNote(repeat.Advance) + remark;
        for (QDate day = NextDay(weekDays, repeat, first.date(), calendar); day.isValid() && day <= last.date();
             day = NextDay(weekDays, repeat, day.addDays(1), calendar))
            add({id, QDateTime(day, time), said, true});
        if (!set->Value(5).isNull())
            add({id, SnoozeMoment(set->Value(5)), said, true});
    }
    std::sort(due.begin(), due.end(), EarlierFiring);
    if (missed) {
        // Each reminder once, at its latest moment.
        QHash<QString, qsizetype> latest;
        for (qsizetype i = 0; i < due.size(); ++i)
            latest[due[i].Id] = i;
        QList<TDueAlam> once;
        for (qsizetype i = 0; i < due.size(); ++i)
            if (latest.value(due[i].Id) == i)
                once.append(due[i]);
        due = once;
    }
    return due;
}

void TAlam::LeaveAlamsForLater(const QStringList& ids)
{
    if (ids.isEmpty())
        return;
    LastSQL = FormatSQL(kLeaveForLater, {IdList(ids)});
    DbExecSQL(LastSQL);
}

QList<TDueAlam> TAlam::LeftForLater()
{
    LastSQL = kLeftForLater;
    const std::unique_ptr<TDataSet> set = DbAccess->Query(LastSQL);
    QList<TDueAlam> left;
    TCalendarOnce calendar;
    const QDateTime now = TClock::Now();
    for (set->First(); !set->Eof(); set->Next()) {
        const bool repeating = set->AsInteger(4) != 0;
        const QDateTime moment =
            repeating
                ? LastFiring(TimeOfDay(set->Value(1).toDouble()), set->AsInteger(5), RepeatAt(*set, 6), now, calendar)
                : FromOleSeconds(OleSeconds(set->Value(1).toDouble() + set->Value(2).toDouble()));
        left.append({set->AsString(0), moment, set->AsString(3), repeating});
    }
    std::sort(left.begin(), left.end(), EarlierFiring);
    return left;
}

void TAlam::ForgetLeftAlams(const QStringList& ids)
{
    if (ids.isEmpty())
        return;
    LastSQL = FormatSQL(kForgetLeft, {IdList(ids)});
    DbExecSQL(LastSQL);
}

std::optional<qint64> TAlam::LastCheckedSecond()
{
    LastSQL = kLastChecked;
    const std::unique_ptr<TDataSet> set = DbAccess->Query(LastSQL);
    if (set->Eof() || set->Value(0).isNull())
        return std::nullopt;
    return set->Value(0).toLongLong();
}

void TAlam::StoreLastCheckedSecond(qint64 second)
{
    LastSQL = FormatSQL(kStoreLastChecked, {QString::number(second)});
    DbExecSQL(LastSQL);
}
