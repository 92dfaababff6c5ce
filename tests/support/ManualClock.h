#pragma once

#include "platform/Clock.h"

#include <atomic>
#include <mutex>

// A clock that shows whatever it was last set to; thread-safe because the clock
// control reads it from its tick while a test sets it.
class ManualClock : public Clock
{
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC));
    QDateTime now() const override;
    void set(const QDateTime& value);
    void set(const QDate& date, const QTime& time);
    void advanceSecs(qint64 secs);
    void advanceMSecs(qint64 msecs);
    QTimeZone timeZone() const override;
    // The zone the clock pretends to run in; the system's until set.
    void setTimeZone(const QTimeZone& zone);

private:
    mutable std::mutex m_mutex;
    QDateTime m_now;
    QTimeZone m_zone;
};
