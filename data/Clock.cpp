#include "data/Clock.h"

namespace {
bool frozen = false;
QDateTime frozenAt;
qint64 offsetMs = 0;
std::optional<QDateTime> scopedAt;
} // namespace

QDateTime TClock::Now()
{
    if (scopedAt)
        return *scopedAt;
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

TClock::TScopedMoment::TScopedMoment(const QDateTime& moment) : m_previous(scopedAt)
{
    scopedAt = moment;
}

TClock::TScopedMoment::~TScopedMoment()
{
    scopedAt = m_previous;
}
