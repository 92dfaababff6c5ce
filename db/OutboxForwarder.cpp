#include "db/OutboxForwarder.h"

#include "db/CardSwipe.h"

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
            const SwipeOutcome outcome = CardSwipe::forward(swipe, m_records);
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
