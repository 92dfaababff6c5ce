#pragma once

#include "db/SwipeOutcome.h"

class AdoQuery;
class Clock;

// One card swipe for the current employee: records an sgdjb row unless that employee
// number already has one strictly within three minutes either side of now. Kept out of
// the window so the same swipe can be driven from a test or a tool.
class CardSwipe
{
public:
    // The current employee is the current row of `employees` (null, closed or empty: no
    // swipe). `recordQry` must be bound to the connection the records live in; it is
    // closed again when this returns, whatever happened. Never throws.
    static SwipeOutcome run(AdoQuery* employees, AdoQuery& recordQry, const Clock& clock);

    // The duplicate window on either side of now, in seconds.
    static constexpr int kWindowSeconds = 3 * 60;
};
