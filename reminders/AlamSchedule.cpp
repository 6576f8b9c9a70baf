#include "reminders/AlamSchedule.h"

#include "data/MD.h"

#include <optional>

namespace {
// A timer that slips by a second or two must not skip a reminder; a longer
// gap (the computer asleep, the program stopped, the clock put forward) is
// shown in the missed window instead of one alert per reminder.
constexpr qint64 kCatchUpSeconds = 60;
// A clock set back repeats no second already checked; only when it went
// back further than this (it had been far ahead) does checking start over.
constexpr qint64 kSetBackSeconds = 24 * 3600;
// The checked second is written at least this often, so that after a stop
// the next start knows what has been covered.
constexpr qint64 kStoreEverySeconds = 30;
} // namespace

qint64 TAlamSchedule::CatchUpSeconds()
{
    // The end-to-end check stops the program for a few seconds, not minutes.
    const int chosen = qEnvironmentVariableIntValue("JOTTEREL_CATCH_UP_SECONDS");
    return chosen > 0 && chosen < kCatchUpSeconds ? chosen : kCatchUpSeconds;
}

TAlamTick TAlamSchedule::Tick(const QDateTime& moment, const std::function<void(const TAlamTick&)>& show)
{
    const qint64 now = moment.toSecsSinceEpoch();
    if (m_lastAlamSecond < 0) {
        const std::optional<qint64> stored = Alam.LastCheckedSecond();
        m_lastAlamSecond = stored ? *stored : now - 1;
        m_storedSecond = stored ? *stored : -1;
    }
    if (now <= m_lastAlamSecond) {
        if (m_lastAlamSecond - now <= kSetBackSeconds)
            return {};              // these seconds are covered already
        m_lastAlamSecond = now - 1; // the clock had been far ahead
    }
    const bool gap = now - m_lastAlamSecond > CatchUpSeconds();
    TAlamTick tick;
    if (gap)
        tick.Missed = Alam.DueBetween(m_lastAlamSecond + 1, now - 1, true);
    if (m_leftOverWaiting)
        tick.Missed += Alam.LeftForLater();
    tick.Due = Alam.DueBetween(gap ? now : m_lastAlamSecond + 1, now, false);
    // Shown before the checked second moves, and written after: a failing
    // write loses no alert.
    if (show)
        show(tick);
    m_leftOverWaiting = false;
    m_lastAlamSecond = now;
    StoreCheckedSecond(now, gap || !tick.Due.isEmpty());
    return tick;
}

void TAlamSchedule::StoreCheckedSecond(qint64 second, bool now)
{
    if (DbAccess->ReadOnly())
        return;
    if (!now && m_storedSecond >= 0 && second - m_storedSecond < kStoreEverySeconds && second >= m_storedSecond)
        return;
    Alam.StoreLastCheckedSecond(second);
    m_storedSecond = second;
}
