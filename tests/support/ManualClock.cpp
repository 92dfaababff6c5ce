#include "support/ManualClock.h"

ManualClock::ManualClock(QDateTime start) : m_now(std::move(start)) {}

QDateTime ManualClock::now() const
{
    std::lock_guard lock(m_mutex);
    return m_now;
}

void ManualClock::set(const QDateTime& value)
{
    std::lock_guard lock(m_mutex);
    m_now = QDateTime(value.date(), value.time(), Qt::UTC);
}

void ManualClock::set(const QDate& date, const QTime& time)
{
    set(QDateTime(date, time, Qt::UTC));
}

void ManualClock::advanceSecs(qint64 secs)
{
    std::lock_guard lock(m_mutex);
    m_now = m_now.addSecs(secs);
}

void ManualClock::advanceMSecs(qint64 msecs)
{
    std::lock_guard lock(m_mutex);
    m_now = m_now.addMSecs(msecs);
}

QTimeZone ManualClock::timeZone() const
{
    std::lock_guard lock(m_mutex);
    return m_zone.isValid() ? m_zone : QTimeZone::systemTimeZone();
}

void ManualClock::setTimeZone(const QTimeZone& zone)
{
    std::lock_guard lock(m_mutex);
    m_zone = zone;
}
