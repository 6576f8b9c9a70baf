#pragma once

#include <QDateTime>

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
};
