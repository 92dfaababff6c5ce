#include "db/OutboxForwarder.h"

#include "db/CardSwipe.h"
#include "platform/EServerRefusal.h"

OutboxForwarder::OutboxForwarder(const QString& connectionString, const QString& storePath)
    : m_records(QStringLiteral("RecordQry")), m_store(storePath)
{
    m_connection.setConnectionString(connectionString);
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
        for (const StoredSwipe& swipe : batch) {
            SwipeOutcome outcome;
            try {
                outcome = CardSwipe::forward(swipe, m_records);
            } catch (const EServerRefusal& refusal) {
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
        } catch (const EServerRefusal& refusal) {
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
