#include "attendance/OutboxForwarder.h"

#include "attendance/CardSwipe.h"
#include "attendance/ServerIdentity.h"
#include "attendance/ServerSchemaCheck.h"
#include "attendance/ServerSwipeBatch.h"
#include "platform/ServerRefusal.h"
#include "platform/SystemClock.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"

#include <algorithm>
#include <chrono>
#include <utility>

OutboxForwarder::OutboxForwarder(const QString& connectionString, const QString& storePath)
    : OutboxForwarder(connectionString, storePath, SystemClock::instance())
{
}

OutboxForwarder::OutboxForwarder(const QString& connectionString, const QString& storePath,
                                 const Clock& clock)
    : m_clock(clock), m_records(QStringLiteral("RecordQry")), m_store(storePath)
{
    m_connection.setConnectionString(connectionString);
    m_connection.setOpenCheck(ServerSchemaCheck::run);
    m_records.setConnection(&m_connection);
}

void OutboxForwarder::connect()
{
    m_connection.open();
}

OutboxForwarder::Result OutboxForwarder::forwardAll()
{
    Result result;
    // How many employees a batch may lock, once the server has been asked.
    const auto askServer = [this] {
        ServerFeatures* server = m_connection.backend().serverFeatures();
        return server ? ServerSwipeBatch::employeesPerBatch(*server) : 0;
    };
    // Connecting is the network's and the server's work: done on a second thread while the
    // store is compared with its record, when there is something to send.
    std::future<int> connecting;
    if (m_store.waitingCount() > 0)
        connecting = std::async(std::launch::async, askServer);
    // The queue is read only once the store and the record beside it agree (mended if not).
    m_store.verify();
    int employees = connecting.valid() ? connecting.get() : 0;
    for (;;) {
        const std::vector<StoredSwipe> round = m_store.oldest(kRound);
        if (round.empty())
            return result;
        ServerFeatures* server = m_connection.backend().serverFeatures();
        if (!server) {
            forwardEach(round, result);
            continue;
        }
        if (employees == 0)
            employees = askServer();
        // The server takes each batch in one transaction and one round trip. The store lets
        // go of what the server committed on a second thread meanwhile, in synced
        // transactions that each take every batch committed since the last one began: the
        // syncs keep pace with the server instead of adding up. A crash in between leaves
        // swipes the next round finds recorded, never one sent twice.
        Settling settling;
        try {
            for (const std::vector<size_t>& positions : ServerSwipeBatch::batches(round, employees)) {
                std::vector<StoredSwipe> batch;
                batch.reserve(positions.size());
                for (size_t i : positions)
                    batch.push_back(round[i]);
                std::vector<SwipeOutcome> outcomes;
                try {
                    outcomes = ServerSwipeBatch::forward(*server, batch);
                } catch (const ServerRefusal&) {
                    // One of them is refused: one by one, to set that one aside.
                    settleAll(settling, result);
                    forwardEach(batch, result);
                    continue;
                }
                if (afterCommit) {
                    for (const StoredSwipe& swipe : batch)
                        afterCommit(swipe);
                }
                settling.committed.add(std::move(batch), std::move(outcomes));
                if (!settling.confirmation.valid() ||
                    settling.confirmation.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
                    finishConfirmation(settling, result);
                    startConfirmation(settling);
                }
            }
        } catch (...) {
            // What the server committed before the failure leaves the outbox all the same.
            try {
                settleAll(settling, result);
            } catch (...) {
                // Left waiting: the next round finds them recorded.
            }
            throw;
        }
        settleAll(settling, result);
    }
}

void OutboxForwarder::Committed::add(std::vector<StoredSwipe> batch, std::vector<SwipeOutcome> answers)
{
    for (size_t i = 0; i < batch.size() && i < answers.size(); ++i) {
        swipes.push_back(std::move(batch[i]));
        outcomes.push_back(std::move(answers[i]));
    }
}

void OutboxForwarder::startConfirmation(Settling& settling)
{
    if (settling.committed.swipes.empty())
        return;
    std::swap(settling.confirming, settling.committed);
    // By the server that committed them: one, unless it changed meanwhile.
    std::vector<std::pair<QString, std::vector<StoredSwipe>>> byServer;
    const Committed& confirming = settling.confirming;
    for (size_t i = 0; i < confirming.swipes.size(); ++i) {
        const QString& server = confirming.outcomes[i].server;
        auto found = std::find_if(byServer.begin(), byServer.end(),
                                  [&](const auto& group) { return group.first == server; });
        if (found == byServer.end())
            found = byServer.insert(byServer.end(), {server, {}});
        found->second.push_back(confirming.swipes[i]);
    }
    // The store is this thread's again only once the confirmation is over.
    settling.confirmation =
        std::async(std::launch::async, [this, byServer = std::move(byServer), now = m_clock.now()] {
            for (const auto& [server, swipes] : byServer)
                m_store.confirm(swipes, server, now);
        });
}

void OutboxForwarder::finishConfirmation(Settling& settling, Result& result)
{
    if (!settling.confirmation.valid())
        return;
    Committed done;
    std::swap(done, settling.confirming);
    // Passes on the confirmation's failure: those swipes stay waiting, found recorded next time.
    settling.confirmation.get();
    for (size_t i = 0; i < done.swipes.size(); ++i) {
        if (done.outcomes[i].kind == SwipeOutcome::Kind::Recorded)
            ++result.forwarded;
        else
            ++result.alreadyRecorded;
        if (onForwarded)
            onForwarded(done.swipes[i], done.outcomes[i]);
    }
    if (onSettled)
        onSettled();
}

void OutboxForwarder::settleAll(Settling& settling, Result& result)
{
    finishConfirmation(settling, result);
    startConfirmation(settling);
    finishConfirmation(settling, result);
}

void OutboxForwarder::forwardEach(const std::vector<StoredSwipe>& swipes, Result& result)
{
    for (const StoredSwipe& swipe : swipes) {
        SwipeOutcome outcome;
        try {
            outcome = CardSwipe::forward(swipe, m_records);
        } catch (const ServerRefusal& refusal) {
            // Sending it again would only be refused again, and everything queued
            // behind it would wait for good.
            m_store.setAside(swipe.id, refusal.message());
            ++result.refused;
            if (onRefused)
                onRefused(swipe, refusal.message());
            continue;
        }
        if (afterCommit)
            afterCommit(swipe);
        m_store.confirm({swipe}, outcome.server, m_clock.now());
        if (outcome.kind == SwipeOutcome::Kind::Recorded)
            ++result.forwarded;
        else
            ++result.alreadyRecorded;
        if (onForwarded)
            onForwarded(swipe, outcome);
        if (onSettled)
            onSettled();
    }
}

OutboxForwarder::Result OutboxForwarder::retryRefused()
{
    Result result;
    for (const LocalStore::RefusedSwipe& refused : m_store.refused()) {
        SwipeOutcome outcome;
        try {
            outcome = CardSwipe::forward(refused.swipe, m_records);
        } catch (const ServerRefusal& refusal) {
            m_store.updateRefusal(refused.swipe.id, refusal.message());
            ++result.refused;
            continue;
        }
        if (afterCommit)
            afterCommit(refused.swipe);
        m_store.confirmRefused(refused.swipe, outcome.server, m_clock.now());
        if (outcome.kind == SwipeOutcome::Kind::Recorded)
            ++result.forwarded;
        else
            ++result.alreadyRecorded;
        if (onForwarded)
            onForwarded(refused.swipe, outcome);
        if (onSettled)
            onSettled();
    }
    return result;
}

QString OutboxForwarder::serverIdentity()
{
    ServerFeatures* server = m_connection.backend().serverFeatures();
    return server ? ServerIdentity::read(*server) : QString();
}

OutboxForwarder::Result OutboxForwarder::recheckRetained()
{
    Result result;
    ServerFeatures* server = m_connection.backend().serverFeatures();
    if (!server || m_store.retainedCount() == 0)
        return result;
    const QString current = ServerIdentity::read(*server);
    const std::vector<LocalStore::RetainedSwipe> retained = m_store.retainedNotFrom(current);
    std::vector<StoredSwipe> all;
    all.reserve(retained.size());
    for (const LocalStore::RetainedSwipe& kept : retained)
        all.push_back(kept.swipe);
    const int employees = all.empty() ? 1 : ServerSwipeBatch::employeesPerBatch(*server);
    std::vector<std::vector<StoredSwipe>> batches;
    for (const std::vector<size_t>& positions : ServerSwipeBatch::batches(all, employees)) {
        batches.emplace_back();
        for (size_t i : positions)
            batches.back().push_back(all[i]);
    }
    // A failover's check sends thousands at once: the batches go together, the server going
    // from one to the next without waiting for the terminal, and stop at the first failure.
    for (size_t next = 0; next < batches.size();) {
        const ServerSwipeBatch::Forwarded sent = ServerSwipeBatch::forward(
            *server, std::vector<std::vector<StoredSwipe>>(batches.begin() + qsizetype(next), batches.end()));
        for (const std::vector<SwipeOutcome>& outcomes : sent.committed)
            keepRechecked(batches[next++], outcomes, current, result);
        if (!sent.failure)
            break;
        try {
            std::rethrow_exception(sent.failure);
        } catch (const ServerRefusal&) {
            // One of them is refused now: one by one, so that the others get through and
            // the refused one is set aside with its reason like any refused swipe.
            std::vector<SwipeOutcome> outcomes;
            for (const StoredSwipe& swipe : batches[next]) {
                try {
                    outcomes.push_back(CardSwipe::forward(swipe, m_records));
                } catch (const ServerRefusal& refusal) {
                    StoredSwipe kept = swipe;
                    kept.id = m_store.enqueue(kept);
                    m_store.setAside(kept.id, refusal.message());
                    m_store.forgetRetained(swipe);
                    ++result.refused;
                    if (onRefused)
                        onRefused(kept, refusal.message());
                    outcomes.push_back({});
                }
            }
            keepRechecked(batches[next++], outcomes, current, result);
        }
    }
    return result;
}

void OutboxForwarder::keepRechecked(const std::vector<StoredSwipe>& batch,
                                    const std::vector<SwipeOutcome>& outcomes, const QString& server,
                                    Result& result)
{
    std::vector<StoredSwipe> held;
    for (size_t i = 0; i < batch.size() && i < outcomes.size(); ++i) {
        if (outcomes[i].kind == SwipeOutcome::Kind::Nothing)
            continue;
        held.push_back(batch[i]);
        if (outcomes[i].kind == SwipeOutcome::Kind::Recorded) {
            result.resent.push_back(batch[i]);
            ++result.forwarded;
            if (onResent)
                onResent(batch[i]);
        } else {
            ++result.alreadyRecorded;
        }
    }
    // Confirmed by this server now: kept for another retention time under its name.
    m_store.retain(held, server, m_clock.now());
}
