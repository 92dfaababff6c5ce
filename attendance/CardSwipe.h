#pragma once

#include "attendance/SwipeOutcome.h"

#include <exception>
#include <optional>

class AdoQuery;
class Clock;
struct StoredSwipe;

// One card swipe for the current employee: records an sgdjb row unless that employee
// number already has one within the window around now (SwipeWindow). Kept out of
// the window so the same swipe can be driven from a test or a tool.
class CardSwipe
{
public:
    // The current employee is the current row of `employees` (null, closed or empty: no
    // swipe). `recordQry` must be bound to the connection the records live in; it is
    // closed again when this returns, whatever happened. Never throws.
    static SwipeOutcome run(AdoQuery* employees, AdoQuery& recordQry, const Clock& clock);
    // The same swipe, letting its failure through (recordQry is closed all the same), so
    // that a caller can tell an unreachable server from any other failure.
    static SwipeOutcome attempt(AdoQuery* employees, AdoQuery& recordQry, const Clock& clock);
    // The outcome of a swipe of the current employee that failed this way: the failure's
    // message and short reason, and the failed-swipe status text with the time now.
    static SwipeOutcome failed(AdoQuery* employees, const Clock& clock, const std::exception_ptr& failure);

    // The swipe's transaction for a swipe taken earlier, at its own instant: the same
    // duplicate test around D + T and the insert of the stored D, T and opdate. Recorded,
    // or AlreadyRecorded when the server holds a row of that number within the window
    // around it. Failures pass through; recordQry is closed whatever happened.
    static SwipeOutcome forward(const StoredSwipe& swipe, AdoQuery& recordQry);

    // The record the database holds for the current employee within the window around
    // now, read without taking the write lock (as another program's write lets a reader
    // pass): the AlreadyRecorded outcome a swipe would show; nothing when there is none,
    // no current employee, or the database cannot be read now. Never throws.
    static std::optional<SwipeOutcome> recordedWithin(AdoQuery* employees, AdoQuery& recordQry,
                                                      const Clock& clock);
};
