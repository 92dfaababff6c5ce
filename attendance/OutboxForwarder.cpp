#include "attendance/OutboxForwarder.h"

#include "attendance/CardSwipe.h"
#include "attendance/ServerSchemaCheck.h"
#include "attendance/ServerSwipeBatch.h"
#include "platform/ServerRefusal.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"

OutboxForwarder::OutboxForwarder(const QString& connectionString, const QString& storePath)
    : m_records(QStringLiteral("RecordQry")), m_store(storePath)
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
                std::vector<qint64> ids;
                for (const StoredSwipe& swipe : batch) {
                    if (afterCommit)
                        afterCommit(swipe);
                    ids.push_back(swipe.id);
                }
                m_store.remove(ids);
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
            m_store.remove(swipe.id);
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
        m_store.removeRefused(refused.swipe.id);
        if (outcome.kind == SwipeOutcome::Kind::Recorded)
            ++result.forwarded;
        else
            ++result.alreadyRecorded;
        if (onForwarded)
            onForwarded(refused.swipe, outcome);
    }
    return result;
}
