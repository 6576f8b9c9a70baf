#include "reminders/UntAlam.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "history/Trash.h"

#include <QHash>
#include <algorithm>

namespace {
const QString kInsertDaily = "Insert into Alam(AlamTime,ReMark)  values('%s','%s') ";
const QString kInsertWeekly = "Insert into Alam(AlamTime,ReMark,WeekDays)  values('%s','%s',%s) ";
const QString kInsertOnce = "Insert into Alam(AlamTime,AlamDate,ReDay,ReMark)  values('%s','%s','%s','%s') ";
const QString kList = "select ID,IIf(ReDay,'每天  '+format(Alamtime,'HH:mm:ss'),format(Alamtime+AlamDate,"
                      "'yyyy-mm-dd HH:mm:ss')) ,  Remark,IIF(bLook,'看过的',''),"
                      "ReDay,WeekDays,AlamTime,AlamDate,SnoozeAt from Alam ";
const QString kDelete = "delete from Alam where ID=%s ";
const QString kLoad = "select * from Alam where ID=%s ";
const QString kUpdate = "update Alam set AlamTime='%s',AlamDate='%s',ReDay='%s',Remark='%s',bLook=0,WeekDays=%s,"
                        "SnoozeAt=NULL where ID=%s  ";
const QString kMarkSeen = "update Alam set bLook=1 where ID=%s";
const QString kMarkSeenMany = "update Alam set bLook=1 where ID in (%s)";
const QString kDeleteMany = "delete from Alam where ID in (%s)";
const QString kSnoozeOnce = "update Alam set SnoozeAt=%s,bLook=0 where ReDay=0 and ID in (%s)";
const QString kSnoozeDaily = "update Alam set SnoozeAt=%s where ReDay<>0 and ID in (%s)";
const QString kDue = "select ID,AlamTime,AlamDate,ReDay,WeekDays,SnoozeAt,ReMark,bLook from Alam where %s";
const QString kLeaveForLater = "update Alam set SnoozeAt=0 where ReDay=0 and bLook=0 and ID in (%s)";
const QString kLeftForLater = "select ID,AlamTime,AlamDate,ReMark from Alam where ReDay=0 and bLook=0 and SnoozeAt=0";
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

// The next firing of a repeating reminder at or after now, its extra
// (snoozed) firing included.
QDateTime NextDaily(const QTime& time, int weekDays, const QVariant& snoozeAt, const QDateTime& now)
{
    QDateTime next;
    for (int day = 0; day <= 7 && !next.isValid(); ++day) {
        const QDateTime moment(now.date().addDays(day), time);
        if (moment >= now && TAlam::FiresOn(weekDays, moment.date()))
            next = moment;
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

QString TAlam::ListTimeText(const QString& listed, bool daily, int weekDays)
{
    weekDays = NormalWeekDays(weekDays);
    if (daily && weekDays != kEveryDay && listed.startsWith("每天"))
        return RepeatText(weekDays) + listed.mid(2);
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

bool TAlam::FiresOn(int weekDays, const QDate& day)
{
    weekDays = NormalWeekDays(weekDays);
    return weekDays == kEveryDay || (weekDays & (1 << (day.dayOfWeek() - 1)));
}

QString TAlam::ListSQL(AlamFilter filter)
{
    const int index = qBound(0, int(filter), int(afAll));
    return kList + kFilterClauses[index];
}

void TAlam::InsertAlam()
{
    if (ReDay && NormalWeekDays(WeekDays) != kEveryDay)
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
    LastSQL = ListSQL(filter);
    const std::unique_ptr<TDataSet> set = DbAccess->Query(LastSQL);
    const QDateTime now = TClock::Now();
    QList<QStringList> rows;
    rows.reserve(set->RecordCount());
    if (nextDue)
        nextDue->clear();
    for (set->First(); !set->Eof(); set->Next()) {
        QStringList row{set->AsString(0), set->AsString(1), set->AsString(2), set->AsString(3)};
        const bool daily = set->AsInteger(4) != 0;
        const int weekDays = NormalWeekDays(set->AsInteger(5));
        const QDateTime snoozeAt = SnoozeMoment(set->Value(8));
        row[1] = ListTimeText(row[1], daily, weekDays);
        QDateTime due;
        if (daily) {
            due = NextDaily(TimeOfDay(set->Value(6).toDouble()), weekDays, set->Value(8), now);
        } else {
            const QDateTime moment = FromOleSeconds(OleSeconds(set->Value(6).toDouble() + set->Value(7).toDouble()));
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
        rows.append(row);
        if (nextDue)
            nextDue->append(due);
    }
    return rows;
}

QList<qint64> TAlam::DeleteAlam(const QString& id)
{
    LastSQL = FormatSQL(kDelete, {IdText(id)});
    QList<qint64> entries;
    DbAccess->Batch([&] {
        entries = TTrash().KeepReminders({id});
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
    ReMark = set.AsString("ReMark");
}

void TAlam::UpdateAlam(const QString& id)
{
    LastSQL = FormatSQL(kUpdate, {TimeText(AlamTime), DateText(AlamDate), BoolText(ReDay), SqlText(ReMark),
                                  QString::number(ReDay ? NormalWeekDays(WeekDays) : kEveryDay), IdText(id)});
    DbExecSQL(LastSQL);
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

QList<qint64> TAlam::DeleteAlams(const QStringList& ids)
{
    if (ids.isEmpty())
        return {};
    LastSQL = FormatSQL(kDeleteMany, {IdList(ids)});
    QList<qint64> entries;
    DbAccess->Batch([&] {
        entries = TTrash().KeepReminders(ids);
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
        for (QDate day = first.date(); day <= last.date(); day = day.addDays(1))
            if (FiresOn(weekDays, day))
                add({id, QDateTime(day, time), remark, true});
        if (!set->Value(5).isNull())
            add({id, SnoozeMoment(set->Value(5)), remark, true});
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
    for (set->First(); !set->Eof(); set->Next()) {
        const QDateTime moment = FromOleSeconds(OleSeconds(set->Value(1).toDouble() + set->Value(2).toDouble()));
        left.append({set->AsString(0), moment, set->AsString(3), false});
    }
    std::sort(left.begin(), left.end(), EarlierFiring);
    return left;
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
