#pragma once

#include "postgres/PgConnection.h"
#include "postgres/PgCopy.h"
#include "postgres/PgExchange.h"
#include "postgres/PgResult.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <vector>

// The server back end behind the DbBackend seam: statements, cursors, transactions with
// their advisory locks, and what a server offers beyond that (ServerFeatures). The
// connection and its failover are PgConnection's, sending and reading replies PgExchange's,
// COPY PgCopy's. Failing to reach the server, losing it and waiting too long throw
// ServerUnreachable (the connection is dropped and the next operation connects again);
// what the server refuses throws DatabaseError with its message. A password from the
// connection text never appears in a message.
//
// Nothing outlives a transaction on the server's session (no named statement, no session
// setting), so a terminal works the same directly, through a session pooler and through a
// transaction pooler that hands the server connection to another client after every
// transaction.
class PgBackend : public DbBackend, public ServerFeatures
{
public:
    // Connects at once.
    PgBackend(const QString& conninfo, int networkTimeoutMs);
    ~PgBackend() override;
    PgBackend(const PgBackend&) = delete;
    PgBackend& operator=(const PgBackend&) = delete;

    std::unique_ptr<DbCursor> prepare(const SqlStatementPlan& plan, const QString& rowIdName = {}) override;
    void execute(const QString& sql) override;
    std::vector<DbColumnInfo> tableColumns(const QString& table) override;
    QString rowIdName(const std::vector<DbColumnInfo>& columns) const override;
    qint64 deleteRow(const QString& table, const QString& rowIdName, const DbValue& rowId,
                     const QStringList& columns, const std::vector<DbValue>& values) override;
    void beginWrite(const QString& key) override;
    void beginListWrite() override;
    void commit() override;
    void rollback() override;
    bool isReadOnly() const override { return false; }
    void setNetworkTimeout(int ms) override { m_connection.setTimeoutMs(ms); }
    // The server's clock as an instant, in the server's own time zone.
    std::optional<QDateTime> serverClock() override;
    ServerFeatures* serverFeatures() override { return this; }

    std::vector<std::vector<DbColumnInfo>> columnsOfTables(const QStringList& tables) override;
    bool hasDuplicateTestIndex() override;
    std::vector<ServerRows> pipeline(const std::vector<Statement>& statements) override;
    std::vector<ServerRows> transaction(const std::vector<Statement>& statements) override;
    Committed transactions(const std::vector<std::vector<Statement>>& transactions) override;
    qint64 copyIn(const QByteArray& sql, const QByteArray& data) override;
    void copyOut(const QByteArray& sql, const std::function<void(QByteArrayView row)>& visit) override;
    QByteArray literal(const QString& text) override;

    // Runs a statement with positional "$n" parameters given as text (nullopt: NULL).
    void execute(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters);
    // The same, returning the result.
    PgResult run(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters);

    // A statement whose rows are read one at a time as they come (PgExchange::startRows),
    // with the session's DateStyle for its dates.
    quint64 startRows(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters,
                      QByteArray* dateStyle);
    PgResult nextRow(quint64 statement) { return m_exchange.nextRow(statement); }
    // Drops the rest of the numbered statement's rows, when they are still coming.
    void finishRows(quint64 statement);

    // Without connect_timeout in the target, the wait for each host of the target.
    static constexpr int kDefaultHostTimeoutMs = PgConnection::kDefaultHostTimeoutMs;

private:
    // BEGIN, the transaction's lock timeout and, when given, its advisory lock, in one
    // round trip.
    void begin(const QByteArray& lockSql, const std::vector<std::optional<QByteArray>>& lockParameters);
    // Runs statements in a transaction of their own, the transaction's statements before
    // them and COMMIT after them, in one round trip; returns the statements' results.
    std::vector<PgResult> inTransaction(const std::vector<Statement>& statements);
    // After a failure inside a transaction begun here: rolls back on the server when the
    // session is still there, so that the caller has no transaction left to end.
    void abandonTransaction();
    // The transaction's own lock_timeout: a little under the wait for the server, so that
    // the server ends a lock wait itself rather than keep a backend waiting for a client
    // that gave up. 0: none. Set with SET LOCAL, it ends with the transaction.
    Statement lockTimeoutStatement() const;
    void ensureConnected();
    PgResult roundTrip(const QByteArray& sql, const std::vector<std::optional<QByteArray>>* parameters);
    // The DateStyle the server reports for the session now.
    QByteArray dateStyle() const;

    PgConnection m_connection;
    PgExchange m_exchange{m_connection};
    PgCopy m_copy{m_connection, m_exchange};
    QHash<QString, std::vector<DbColumnInfo>> m_columns;
};
