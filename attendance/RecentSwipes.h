#pragma once

#include "attendance/SwipeOutcome.h"

#include <QDateTime>
#include <QString>

#include <deque>
#include <mutex>
#include <optional>

// The rows this terminal knows the server holds since it started: its own swipes that the
// server recorded or answered with a record, and the forwarded ones. A swipe taken while
// the server cannot be reached is tested against them as well as against the outbox, so
// that it shows the same answer it would have had online. Shared by the window and the
// forwarder, hence locked.
class RecentSwipes
{
public:
    // Keeps Recorded and AlreadyRecorded outcomes; the oldest go beyond kCapacity.
    void add(const SwipeOutcome& outcome);
    // The first known row of that number within the window from..to (SwipeWindow::holds).
    std::optional<SwipeOutcome> within(const QString& num, const QDateTime& from, const QDateTime& to) const;

    static constexpr std::size_t kCapacity = 4096;

private:
    mutable std::mutex m_mutex;
    std::deque<SwipeOutcome> m_rows;
};
