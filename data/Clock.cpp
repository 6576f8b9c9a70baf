#include "data/Clock.h"

namespace {
bool frozen = false;
QDateTime frozenAt;
qint64 offsetMs = 0;
} // namespace

QDateTime TClock::Now()
{
    if (frozen)
        return frozenAt;
    return QDateTime::currentDateTime().addMSecs(offsetMs);
}

void TClock::Set(const QDateTime& moment)
{
    frozen = true;
    frozenAt = moment;
}

void TClock::Advance(qint64 msecs)
{
    if (frozen)
        frozenAt = frozenAt.addMSecs(msecs);
    else
        offsetMs += msecs;
}

void TClock::Release()
{
    frozen = false;
    offsetMs = 0;
}
