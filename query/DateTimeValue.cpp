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
