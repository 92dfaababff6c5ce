#include "db/Transaction.h"

#include "db/AdoConnection.h"

Transaction::Transaction(AdoConnection& connection) : m_connection(connection)
{
    m_connection.execute(QStringLiteral("BEGIN IMMEDIATE"));
}

Transaction::~Transaction()
{
    if (m_done)
        return;
    try {
        if (m_connection.connected())
            m_connection.execute(QStringLiteral("ROLLBACK"));
    } catch (...) {
        // A failed rollback leaves nothing to undo that SQLite has not undone already.
    }
}

void Transaction::commit()
{
    m_connection.execute(QStringLiteral("COMMIT"));
    m_done = true;
}
