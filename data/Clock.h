#pragma once

#include <QDateTime>
#include <optional>

// The program's one clock. Every "now" of the program (the database's Date(),
// Time() and Now(), the reminder tick, the dialogs' checks and clock labels,
// the date and time keys, the log's time stamps) reads it, so that tests can
// set and advance time instead of sleeping.
class TClock
{
public:
    static QDateTime Now();
    static QDate Today() { return Now().date(); }

    // Freezes the clock at the given moment (tests).
    static void Set(const QDateTime& moment);
    // Moves a frozen clock forward, or shifts the running one.
    static void Advance(qint64 msecs);
    // Back to the system clock.
    static void Release();

    // While it lives, Now() reads the given moment. The reminder tick uses it
    // to ask the database about a second that a late timer skipped, since the
    // statements read the clock through Date() and Time().
    class TScopedMoment
    {
    public:
        explicit TScopedMoment(const QDateTime& moment);
        ~TScopedMoment();
        TScopedMoment(const TScopedMoment&) = delete;
        TScopedMoment& operator=(const TScopedMoment&) = delete;

    private:
        std::optional<QDateTime> m_previous;
    };
};
