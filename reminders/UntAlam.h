#pragma once

#include "reminders/AlamRepeat.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>
#include <optional>

// The six filters of the reminder list, in the order of their radio buttons.
enum AlamFilter : int { afToday = 0, afTomorrow, afMissed, afSeen, afDaily, afAll };

// One firing of a reminder: its moment (whole seconds) and what the alert shows.
struct TDueAlam
{
    QString Id;
    QDateTime Moment;
    QString ReMark;
    bool Daily = false; // a repeating reminder, or the extra firing of a snoozed one
};

// The days a repeating reminder fires on: bit 0 Monday ... bit 6 Sunday;
// 0 (as every row made before weekdays existed) means every day.
inline constexpr int kEveryDay = 0;
inline constexpr int kWorkDays = 0x1f;
inline constexpr int kAllWeekDays = 0x7f;

// The only code that reads or writes the table Alam. Its fields carry one
// reminder between the dialogs and the statements.
class TAlam
{
public:
    QTime AlamTime; // time of day, whole seconds
    QDate AlamDate; // day of a one-off reminder
    bool ReDay = false;
    int WeekDays = kEveryDay; // of a repeating reminder
    TAlamRepeat Repeat;       // a repeat beyond 每天 and 每周 (ReDay is then true)
    QString ReMark;
    QString LastSQL;

    // An ID is the decimal text of the row's key, as the list shows it.
    void InsertAlam();
    // The rows of the list under the filter (ID, time, text, status), only
    // in the rows, not in the table: a pending snooze shows as "稍后 14:35",
    // a one-off row as "错过的" once its moment has passed unseen, with no
    // snooze pending and no alert open,, and the filter
    // 错过的提醒 lists only those. When asked, the moment each row falls due
    // next goes into nextDue, in the same order (invalid for a one-off
    // reminder that is past). onScreen names the reminders whose alert is
    // open: they are being answered, not missed.
    QList<QStringList> LoadAlamList(AlamFilter filter, QList<QDateTime>* nextDue = nullptr,
                                    const QStringList& onScreen = {});
    // The deletes hand the rows to the delete keeper and return the entries
    // it kept. A reminder deleted from its alert (看到了并删除) was seen
    // first, and comes back so.
    QList<qint64> DeleteAlam(const QString& id, bool seen = false);
    // A missing row leaves the fields empty and reports nothing.
    void LoadAlam(const QString& id);
    // Writes the fields into the row; a changed reminder is unseen again.
    void UpdateAlam(const QString& id);
    void MarkAlamSeen(const QString& id);

    // The same for several reminders at once, in one transaction.
    void MarkAlamsSeen(const QStringList& ids);
    QList<qint64> DeleteAlams(const QStringList& ids, bool seen = false);
    // Each reminder keeps its own time and date and fires once more at the
    // moment (a one-off one is unseen again until it is answered then).
    void SnoozeAlams(const QStringList& ids, const QDateTime& until);

    // Every firing in the seconds from..to (since the epoch, both included),
    // oldest first. For the missed ones (missed = true) one-off reminders
    // already seen are left out, and each reminder is named once, at its
    // latest moment.
    QList<TDueAlam> DueBetween(qint64 from, qint64 to, bool missed);

    // Reminders the user leaves for later (the missed window closed
    // unanswered, the program ended with their alert open): they hold the
    // snooze 0 (1899-12-30, a moment that never comes) until they are
    // answered, snoozed or changed. A one-off one stays missed and unseen;
    // a seen one is left alone.
    void LeaveAlamsForLater(const QStringList& ids);
    // Those left for later, oldest first: a one-off reminder at its own
    // moment, a repeating one at its last firing.
    QList<TDueAlam> LeftForLater();
    // Repeating reminders the missed window has shown: no longer left for later.
    void ForgetLeftAlams(const QStringList& ids);

    // The status of a pending snooze: "稍后 14:35", "稍后 明天 00:20".
    static QString SnoozeText(const QDateTime& snoozeAt, const QDateTime& now);

    // What fires from the moment on for the days, oldest first, one line
    // each: "2026-09-20 周日 09:00<TAB>打卡".
    QStringList Agenda(const QDateTime& from, int days);

    // The last second the reminder tick has checked; none in a new file.
    std::optional<qint64> LastCheckedSecond();
    void StoreLastCheckedSecond(qint64 second);

    // "2026-09-20 周日".
    static QString DayText(const QDate& day);
    // "每天", "周一至周五", "每周一、三、五".
    static QString RepeatText(int weekDays);
    // The same with the repeats beyond them: "法定工作日", "每年农历八月十五".
    static QString RepeatText(int weekDays, const TAlamRepeat& repeat);
    // The time column of a row as the list shows it, from the statement's
    // text (which names every repeating row "每天") and the row's days.
    static QString ListTimeText(const QString& listed, bool daily, int weekDays,
                                const TAlamRepeat& repeat = TAlamRepeat());
    // The first day on or after `from` a repeating reminder fires on; the
    // calendar is read for the official kinds only.
    static QDate NextFiringDay(int weekDays, const TAlamRepeat& repeat, const QDate& from);

    // The select of the list, with the WHERE clause of the filter.
    static QString ListSQL(AlamFilter filter);
};

// Status texts of the list's last column.
inline const QString kAlamSeenText = QStringLiteral("看过的");
inline const QString kAlamMissedText = QStringLiteral("错过的");
// A word, not a clock sign: the Chinese fonts of many desktops have no such sign.
inline const QString kAlamSnoozeMark = QStringLiteral("稍后 ");
