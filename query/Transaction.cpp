#include "query/Transaction.h"

#include "query/AdoConnection.h"
#include "query/DbBackend.h"

Transaction::Transaction(AdoConnection& connection, const QString& key) : m_connection(connection)
{
    m_connection.backend().beginWrite(key);
}

Transaction::Transaction(AdoConnection& connection, EmployeeList) : m_connection(connection)
{
    m_connection.backend().beginListWrite();
}

Transaction::~Transaction()
{
    if (m_done)
        return;
    try {
        if (m_connection.connected())
            m_connection.backend().rollback();
    } catch (...) {
        // A failed rollback leaves nothing to undo that the database has not undone already.
    }
}

void Transaction::commit()
{
    m_connection.backend().commit();
    m_done = true;
}
