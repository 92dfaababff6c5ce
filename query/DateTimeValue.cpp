#include "query/DateTimeValue.h"

namespace {
const QDate kEpoch(1970, 1, 1);
}

DateTimeValue DateTimeValue::fromDateTime(const QDateTime& wallClock)
{
    return fromDate(wallClock.date()) + fromTime(wallClock.time());
}

DateTimeValue DateTimeValue::fromDate(const QDate& date)
{
    return DateTimeValue(kEpoch.daysTo(date) * 86400);
}

DateTimeValue DateTimeValue::fromTime(const QTime& time)
{
    return DateTimeValue(time.msecsSinceStartOfDay() / 1000);
}

QDateTime DateTimeValue::toDateTime() const
{
    return QDateTime(kEpoch, QTime(0, 0), Qt::UTC).addSecs(m_seconds);
}

QDate DateTimeValue::date() const
{
    // Days rounded down, so that an instant before the epoch falls on its own day.
    const qint64 days = m_seconds >= 0 ? m_seconds / 86400 : -((-m_seconds + 86399) / 86400);
    return kEpoch.addDays(days);
}

QTime DateTimeValue::timeOfDay() const
{
    const qint64 within = m_seconds % 86400;
    return QTime::fromMSecsSinceStartOfDay(int(within < 0 ? within + 86400 : within) * 1000);
}
