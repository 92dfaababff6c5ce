#pragma once

#include "attendance/StoredSwipe.h"
#include "attendance/SwipeOutcome.h"

#include <exception>
#include <vector>

class ServerFeatures;

// Swipes handed to a server in one transaction and one network round trip: BEGIN, the
// transaction's lock timeout, the advisory lock of every employee of the batch (taken up
// front in one fixed order, so that two terminals cannot wait for each other), the
// duplicate test and the insert of all the swipes as one statement over arrays, and
// COMMIT, sent together. Every swipe still gets the duplicate test at its own instant
// against every row committed before the locks were granted. Swipes of one employee close
// enough to meet each other's window go into statements of their own, one after the
// other, so that the later one sees the earlier one's row. All or nothing: a refusal of
// any swipe rolls the whole back. A live swipe takes the plainer way of ServerSwipe.
class ServerSwipeBatch
{
public:
    // How many employees one batch may lock. The server keeps every advisory lock in one
    // table shared by all its sessions, sized max_locks_per_transaction per connection:
    // many terminals catching up at once, each locking hundreds of employees, would fill
    // it ("out of shared memory") and fail every session's next lock. A batch stays within
    // a session's share, leaving a few for the locks its statements take on tables and the
    // transaction's own. Asked of the server in a round trip of its own.
    static int employeesPerBatch(ServerFeatures& server);
    // The swipes split into batches of at most that many employees (and at most
    // kMaxSwipes swipes), positions into swipes, in the order to send them. All swipes of
    // one employee keep their order: together in one batch, or in consecutive ones.
    static std::vector<std::vector<size_t>> batches(const std::vector<StoredSwipe>& swipes, int employees);
    static constexpr int kMaxSwipes = 4096;

    // Recorded, or AlreadyRecorded with the row found, for each swipe in order, once the
    // server has committed: the row and the server, without a status text (nobody shows
    // one for each of thousands of queued swipes; whoever does makes it from the row).
    // Failures pass through as the back end throws them (a ServerRefusal names no swipe:
    // retry one by one to find it), with nothing committed.
    static std::vector<SwipeOutcome> forward(ServerFeatures& server, const std::vector<StoredSwipe>& swipes);

    // What became of several batches sent together.
    struct Forwarded
    {
        // The outcomes of each batch the server committed, as forward() gives them for one
        // batch: those asked for first, in their order, up to the one that failed.
        std::vector<std::vector<SwipeOutcome>> committed;
        // Why the next batch was not committed (null when every one was), as forward()
        // would have thrown it for that batch alone. After a refusal or a lock wait nothing
        // of it or of the batches behind it is committed; after a lost connection the
        // server may hold some of them (the next round finds them recorded).
        std::exception_ptr failure;
    };
    // The batches, each in its own transaction as forward() sends one, all sent in one
    // round trip: the server goes from one to the next without waiting for the terminal,
    // and stops at the first failure, so that no batch is committed after an earlier one
    // failed (an employee's later swipes never reach the server before the earlier ones).
    static Forwarded forward(ServerFeatures& server, const std::vector<std::vector<StoredSwipe>>& batches);
};
