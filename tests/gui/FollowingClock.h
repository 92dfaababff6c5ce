#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <mutex>

// Follows the real time from a moment the test sets, so that the clock control ticks on
// and a swipe's instant can be put at a chosen fraction of a second.
class FollowingClock : public Clock
{
public:
    QDateTime now() const override
    {
        std::lock_guard lock(m_mutex);
        return m_base.addMSecs(m_since.elapsed());
    }
    void set(const QDateTime& value)
    {
        std::lock_guard lock(m_mutex);
        m_base = value;
        m_since.restart();
    }

private:
    mutable std::mutex m_mutex;
    QDateTime m_base{QDate(2026, 12, 7), QTime(9, 0), Qt::UTC};
    QElapsedTimer m_since = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
};
