#pragma once

#include "attendance/StoredSwipe.h"
#include "attendance/SwipeOutcome.h"

class ServerFeatures;

// One swipe handed to a server in one transaction and one network round trip: BEGIN, the
// transaction's lock timeout, the employee's advisory lock, then one statement with plain
// values that tests for a row of the number within the window around the swipe's instant,
// inserts the swipe when there is none and says which server commits it, and COMMIT, sent
// together. The lock is its own statement, granted before the test's snapshot is taken, so
// that the test sees every row another terminal committed while this one waited.
//
// The same rule as a batch of one (ServerSwipeBatch), in the statement a single swipe
// needs: the server plans a few index lookups and an insert, not arrays taken apart.
class ServerSwipe
{
public:
    // Recorded, or AlreadyRecorded with the row found, once the server has committed; the
    // outcome names the committing server. Failures pass through as the back end throws
    // them, with nothing committed.
    static SwipeOutcome record(ServerFeatures& server, const StoredSwipe& swipe);
};
