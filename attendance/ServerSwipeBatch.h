#pragma once

#include "attendance/StoredSwipe.h"
#include "attendance/SwipeOutcome.h"

#include <vector>

class DbBackend;
class ServerFeatures;

// Queued swipes handed to a server many at a time: one transaction and one network round
// trip for a whole batch instead of several of each per swipe. Every swipe still gets
// the duplicate test at its own instant under its employee's advisory lock, the locks of
// the batch being taken up front in one fixed order, so that two forwarders cannot wait
// for each other. All or nothing: a refusal of any swipe rolls the batch back.
class ServerSwipeBatch
{
public:
    // Recorded, or AlreadyRecorded with the row found, for each swipe in order, once the
    // server has committed. Failures pass through as the back end throws them (an
    // ServerRefusal names no swipe: retry one by one to find it), with nothing committed.
    // The server is the backend's own (backend.serverFeatures()).
    static std::vector<SwipeOutcome> forward(DbBackend& backend, ServerFeatures& server,
                                             const std::vector<StoredSwipe>& swipes);
};
