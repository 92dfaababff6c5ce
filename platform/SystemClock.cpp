#include "platform/SystemClock.h"

QDateTime SystemClock::now() const
{
    const QDateTime local = QDateTime::currentDateTime();
    return QDateTime(local.date(), local.time(), Qt::UTC);
}

SystemClock& SystemClock::instance()
{
    static SystemClock clock;
    return clock;
}
