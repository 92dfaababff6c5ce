#pragma once

#include "attendance/LocalStore.h"
#include "attendance/StoredSwipe.h"
#include "attendance/SwipeOutcome.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"

#include <functional>
#include <future>
#include <vector>

class Clock;

// Hands a terminal's waiting swipes to the database, oldest first, each in the swipe's own
// transaction at its own instant. A swipe leaves the outbox only once the database has
// committed it, or has answered that a row within the duplicate window is there already
// (another terminal's, or this same swipe sent before a crash), so a failure at any point
// loses nothing and sends nothing twice. Uses its own connection and store handle: one
// forwarder per thread.
class OutboxForwarder
{
public:
    struct Result
    {
        int forwarded = 0;
        int alreadyRecorded = 0;
        // Set aside (forwardAll) or left aside (retryRefused): refused by the server.
        int refused = 0;
        // recheckRetained: confirmed swipes this server lacked, sent again.
        std::vector<StoredSwipe> resent;
    };

    // The clock stamps when a server confirmed a swipe, for how long it is retained.
    OutboxForwarder(const QString& connectionString, const QString& storePath, const Clock& clock);
    OutboxForwarder(const QString& connectionString, const QString& storePath);

    // Opens the connection: proves the database can be reached.
    void connect();
    // Forwards until the outbox is empty. A swipe the server refuses for good
    // (ServerRefusal) is set aside in the store's refused list and the round goes on.
    // Any other failure (ServerUnreachable when the server cannot be reached, another
    // error kind for anything else) ends the round and passes through; what was not
    // forwarded stays waiting.
    Result forwardAll();
    // Tries every refused swipe once more, at its own instant, as forwardAll() does: one
    // the server takes (or holds already) leaves the list, one refused again stays with
    // the new reason. Other failures end the round and pass through.
    Result retryRefused();
    // The swipes this store retains that another server confirmed (before a restart, a
    // failover, a move to another host) are sent again to this one, each at its own
    // instant: the duplicate test keeps those it holds single, and only the ones it lacks
    // are written. They are then retained as this server's. A swipe confirmed by this very
    // server is never sent again, so a row deleted on purpose stays deleted. Failures end
    // the check and pass through, the swipes still retained under their old server.
    Result recheckRetained();
    // Which server the connection reaches now (ServerIdentity); empty for a database file.
    QString serverIdentity();

    LocalStore& store() { return m_store; }
    AdoConnection& connection() { return m_connection; }

    // Called for every swipe that has left the outbox, with the database's answer.
    std::function<void(const StoredSwipe&, const SwipeOutcome&)> onForwarded;
    // Called once the swipes of a confirmation (a batch or several, thousands in a catch-up)
    // have left the outbox and been told to onForwarded: where a count of what still waits
    // is read again, once rather than for every swipe.
    std::function<void()> onSettled;
    // Called for every swipe forwardAll() set aside, with the server's reason.
    std::function<void(const StoredSwipe&, const QString&)> onRefused;
    // Called for every retained swipe recheckRetained() had to send again.
    std::function<void(const StoredSwipe&)> onResent;
    // For fault tests: runs after the database committed a swipe, before the outbox is
    // updated.
    std::function<void(const StoredSwipe&)> afterCommit;

    // Swipes read from the store at once. A server's round is sent in as few batches as
    // its lock table allows (ServerSwipeBatch::batches), each let go of in the store in a
    // synced transaction once committed; a file takes each swipe in a transaction of its own.
    static constexpr int kRound = 16384;

private:
    // What the server committed and the store has not let go of yet.
    struct Committed
    {
        std::vector<StoredSwipe> swipes;
        std::vector<SwipeOutcome> outcomes;
        void add(std::vector<StoredSwipe> batch, std::vector<SwipeOutcome> answers);
    };
    struct Settling
    {
        // Committed since the confirmation under way began.
        Committed committed;
        // Being taken out of the outbox on the second thread.
        Committed confirming;
        std::future<void> confirmation;
    };
    // Starts taking what was committed out of the outbox, retained under the server that
    // committed it, in one synced transaction per server, on a second thread.
    void startConfirmation(Settling& settling);
    // Waits for the confirmation under way, if any, then counts its swipes and tells onForwarded.
    void finishConfirmation(Settling& settling, Result& result);
    // Waits until everything committed has left the outbox.
    void settleAll(Settling& settling, Result& result);
    // A batch recheckRetained() sent again: counted, told to onResent, and kept under the
    // server that holds it now.
    void keepRechecked(const std::vector<StoredSwipe>& batch, const std::vector<SwipeOutcome>& outcomes,
                       const QString& server, Result& result);
    // Each swipe in a transaction of its own; a refused one is set aside.
    void forwardEach(const std::vector<StoredSwipe>& swipes, Result& result);

    const Clock& m_clock;
    AdoConnection m_connection;
    AdoQuery m_records;
    LocalStore m_store;
};
