#include "postgres/PgCopy.h"

#include "platform/DatabaseError.h"
#include "postgres/PgConnection.h"
#include "postgres/PgExchange.h"

#include <libpq-fe.h>
#include <poll.h>

namespace {

// Waits for the server to switch to copying, or for its refusal. Returns false when the
// statement did not start a copy of the wanted kind.
bool copyStarted(PgConnection& connection, ExecStatusType wanted)
{
    pg_conn* conn = connection.get();
    for (;;) {
        while (PQisBusy(conn)) {
            if (!connection.waitFor(POLLIN))
                connection.lost(QStringLiteral("The database server did not answer in time."));
            if (!PQconsumeInput(conn))
                connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
        }
        const PgResult result(PQgetResult(conn));
        if (!result)
            return false;
        if (result.status() == wanted)
            return true;
        if (result.isError())
            throw DatabaseError(PgExchange::oneLine(result.errorMessage()));
    }
}

} // namespace

void PgCopy::start(const QByteArray& sql, bool toServer)
{
    pg_conn* conn = m_connection.get();
    if (!PQsendQuery(conn, sql.constData()))
        m_connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
    m_connection.flushSent(false);
    bool copying = false;
    try {
        copying = copyStarted(m_connection, toServer ? PGRES_COPY_IN : PGRES_COPY_OUT);
    } catch (const DatabaseError& e) {
        // The refusal ends the statement; what follows it is collected and dropped.
        m_exchange.finish();
        throw DatabaseError(m_connection.redacted(e.message()));
    }
    if (!copying)
        throw DatabaseError(toServer ? QStringLiteral("The statement did not start a copy to the server.")
                                     : QStringLiteral("The statement did not start a copy from the server."));
}

qint64 PgCopy::in(const QByteArray& sql, const QByteArray& data)
{
    start(sql, true);
    pg_conn* conn = m_connection.get();
    // Pieces of this size keep libpq's buffer small while every send is a full packet.
    constexpr qsizetype kPiece = 256 * 1024;
    for (qsizetype at = 0; at < data.size();) {
        const qsizetype length = qMin(kPiece, data.size() - at);
        const int put = PQputCopyData(conn, data.constData() + at, int(length));
        if (put < 0)
            m_connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
        if (put == 0) {
            if (!m_connection.waitFor(POLLOUT))
                m_connection.lost(m_connection.timeoutText());
            continue;
        }
        at += length;
        // Sending as we go: a full socket means the server is still reading.
        if (PQflush(conn) > 0 && !m_connection.waitFor(POLLIN | POLLOUT))
            m_connection.lost(m_connection.timeoutText());
        if (!PQconsumeInput(conn))
            m_connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
    }
    for (;;) {
        const int ended = PQputCopyEnd(conn, nullptr);
        if (ended < 0)
            m_connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
        if (ended > 0)
            break;
        if (!m_connection.waitFor(POLLOUT))
            m_connection.lost(m_connection.timeoutText());
    }
    m_connection.flushSent(false);
    return m_exchange.finish().rowsChanged();
}

void PgCopy::out(const QByteArray& sql, const std::function<void(QByteArrayView row)>& visit)
{
    start(sql, false);
    pg_conn* conn = m_connection.get();
    for (;;) {
        char* row = nullptr;
        const int length = PQgetCopyData(conn, &row, 1);
        if (length > 0) {
            try {
                visit(QByteArrayView(row, row[length - 1] == '\n' ? length - 1 : length));
            } catch (...) {
                PQfreemem(row);
                // The server is still sending the rest; only a new connection stops that.
                m_connection.close();
                throw;
            }
            PQfreemem(row);
            continue;
        }
        if (length == -1)
            break;
        if (length < -1)
            m_connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
        if (!m_connection.waitFor(POLLIN))
            m_connection.lost(m_connection.timeoutText());
        if (!PQconsumeInput(conn))
            m_connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
    }
    m_exchange.finish();
}
