#pragma once

#include "platform/Clock.h"

// The clock of `kqdb swipe --now`: always the instant given, so several processes can swipe
// at one and the same moment.
class FixedClock : public Clock
{
public:
    explicit FixedClock(QDateTime at) : m_at(std::move(at)) {}
    QDateTime now() const override { return m_at; }

private:
    QDateTime m_at;
};
