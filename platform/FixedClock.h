#pragma once

#include "platform/Clock.h"

// A clock that stays at the instant given: the time a card was presented, kept for the
// whole swipe however long the database takes, and the clock of `kqdb swipe --now`, so that
// several processes can swipe at one and the same moment.
class FixedClock : public Clock
{
public:
    explicit FixedClock(QDateTime at) : m_at(std::move(at)) {}
    QDateTime now() const override { return m_at; }

private:
    QDateTime m_at;
};
