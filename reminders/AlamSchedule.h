#pragma once

#include "reminders/UntAlam.h"

#include <QDateTime>
#include <QList>
#include <functional>

// What one tick found, each list oldest first: the reminders whose alert
// opens now, and those the missed window lists (fallen due in a gap, or
// left for later by an earlier run).
struct TAlamTick
{
    QList<TDueAlam> Due;
    QList<TDueAlam> Missed;
};

// The reminder clock's rules: every whole second is checked exactly once. A
// late timer's seconds are caught up as alerts, a longer gap's go to the
// missed window, and a clock set back repeats nothing. The second checked
// last is kept in the database, so a start covers the time the program was
// not running; with none stored (a new file) the start covers only its own
// second. The first tick also lists the reminders left for later.
class TAlamSchedule
{
public:
    explicit TAlamSchedule(TAlam& alam) : Alam(alam) {}

    // Checks the seconds after the previous tick up to the moment's, hands
    // what fell due to show, then records that second as checked. A failure
    // before show moves nothing: the next tick collects the same again.
    TAlamTick Tick(const QDateTime& moment, const std::function<void(const TAlamTick&)>& show = nullptr);

    // A gap between two ticks longer than this is not caught up with
    // alerts: what fell due in it goes to the missed window.
    static qint64 CatchUpSeconds();

private:
    void StoreCheckedSecond(qint64 second, bool now);

    TAlam& Alam;
    qint64 m_lastAlamSecond = -1;  // the last second (since the epoch) the tick has covered
    qint64 m_storedSecond = -1;    // the last such second written to the database
    bool m_leftOverWaiting = true; // the reminders left for later by an earlier run are still to be shown
};
