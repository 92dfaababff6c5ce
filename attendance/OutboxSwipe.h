#pragma once

#include "attendance/SwipeOutcome.h"

class AdoQuery;
class Clock;
class LocalStore;
class RecentSwipes;

// A card swipe taken while the server cannot be reached: the same duplicate rule, tested
// against the outbox and the rows the terminal knows the server holds, and the row the
// server would have received, queued in the outbox and synced before the status text is
// shown. The clock is read as by a swipe on the server: window start, window end, date,
// time, and the time shown.
class OutboxSwipe
{
public:
    // Nothing when there is no current employee (or its number is empty). Store failures
    // pass through, with nothing queued.
    static SwipeOutcome run(AdoQuery* employees, LocalStore& store, const Clock& clock,
                            const RecentSwipes* recent = nullptr);
};
