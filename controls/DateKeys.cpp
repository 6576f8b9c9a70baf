#include "controls/DateKeys.h"

#include "data/Clock.h"
#include "data/OleDate.h"

#include <QKeyEvent>

QString DateTimeKeyText(const QKeyEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier))
        return {};
    const QDateTime now = TClock::Now();
    if (event->key() == Qt::Key_D)
        return DateText(now.date());
    if (event->key() == Qt::Key_T)
        return DateTimeText(now);
    return {};
}
