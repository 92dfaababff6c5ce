#include "attendance/OutboxForwarder.h"

#include "attendance/CardSwipe.h"
#include "attendance/ServerIdentity.h"
#include "attendance/ServerSchemaCheck.h"
#include "attendance/ServerSwipeBatch.h"
#include "platform/ServerRefusal.h"
#include "platform/SystemClock.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"

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
    // The queue is read only once the store and the record beside it agree (mended if not).
    m_store.verify();
    for (;;) {
        const std::vector<StoredSwipe> batch = m_store.oldest(kBatch);
        if (batch.empty())
            return result;
        // A server takes the batch in one transaction and one round trip, and the store
        // lets go of it in one synced transaction after the server's commit: a crash in
        // between leaves swipes the next round finds recorded, never one sent twice.
        if (ServerFeatures* server = m_connection.backend().serverFeatures()) {
            std::vector<SwipeOutcome> outcomes;
            try {
                outcomes = ServerSwipeBatch::forward(*server, batch);
            } catch (const ServerRefusal&) {
                // One of them is refused: one by one, to set that one aside.
            }
            if (!outcomes.empty()) {
                for (const StoredSwipe& swipe : batch) {
                    if (afterCommit)
                        afterCommit(swipe);
                }
                m_store.confirm(batch, outcomes.front().server, m_clock.now());
                for (size_t i = 0; i < batch.size(); ++i) {
                    if (outcomes[i].kind == SwipeOutcome::Kind::Recorded)
                        ++result.forwarded;
                    else
                        ++result.alreadyRecorded;
                    if (onForwarded)
                        onForwarded(batch[i], outcomes[i]);
                }
                continue;
            }
        }
        for (const StoredSwipe& swipe : batch) {
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
        }
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
    for (size_t at = 0; at < retained.size(); at += kBatch) {
        std::vector<StoredSwipe> batch;
        for (size_t i = at; i < retained.size() && i < at + kBatch; ++i)
            batch.push_back(retained[i].swipe);
        std::vector<SwipeOutcome> outcomes;
        try {
            outcomes = ServerSwipeBatch::forward(*server, batch);
        } catch (const ServerRefusal&) {
            // One of them is refused now: one by one, so that the others get through and
            // the refused one is set aside with its reason like any refused swipe.
            for (const StoredSwipe& swipe : batch) {
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
        }
        std::vector<StoredSwipe> held;
        for (size_t i = 0; i < batch.size(); ++i) {
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
        m_store.retain(held, current, m_clock.now());
    }
    return result;
}
