#pragma once

#include "db/DbBackend.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <vector>

struct pg_conn;
struct pg_result;

// The server back end: one libpq connection to a PostgreSQL database, used without ever
// blocking inside libpq, so that every wait for the server is bounded by the network
// timeout. Failing to reach the server, losing it and waiting too long throw
// EServerUnreachable (the connection is dropped and the next operation connects again);
// what the server refuses throws EOleException with its message. A password from the
// connection text never appears in a message.
class PgBackend : public DbBackend
{
public:
    // Connects at once, and the first time checks that the tables the terminal uses have
    // the column types it reads and writes: a table that does not is refused here, before
    // anything is written to it.
    // checkTables false is for creating the tables.
    PgBackend(const QString& conninfo, int networkTimeoutMs, bool checkTables = true);
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
    void setNetworkTimeout(int ms) override { m_timeoutMs = ms; }
    std::optional<QDateTime> serverClock() override;

    // Runs a statement with positional "$n" parameters given as text (nullopt: NULL).
    void execute(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters);
    // The same, returning the result, owned by the caller (PQclear).
    pg_result* run(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters);

    // Bulk paths for the tools. COPY ... FROM STDIN with the data in COPY's text format,
    // sent in large pieces rather than one round trip per row; returns the rows copied.
    qint64 copyIn(const QByteArray& sql, const QByteArray& data);
    // COPY ... TO STDOUT: each row, in COPY's text format without its line end, is handed
    // to visit as it arrives, so that a result of any size passes through bounded memory.
    // When visit throws, the connection is dropped (the next operation connects again).
    void copyOut(const QByteArray& sql, const std::function<void(QByteArrayView row)>& visit);
    // The text as an SQL string literal, for statements that take no parameters (COPY).
    QByteArray literal(const QString& text);

private:
    // BEGIN, and in the same round trip the transaction's advisory lock (class, key
    // expression) when a key is given.
    void begin(int lockClass, const QByteArray& lockKey);
    void connect();
    void ensureConnected();
    void checkSchema();
    // Sends the statement and waits for its results; the simple protocol allows several
    // statements in one text.
    pg_result* roundTrip(const QByteArray& sql, const std::vector<std::optional<QByteArray>>* parameters);
    // Waits until the socket is ready for the events; false when the timeout passed first.
    bool waitFor(short events);
    [[noreturn]] void lost(const QString& why);
    // Sends what libpq holds for the server, waiting while the socket is full.
    void flushOut();
    // Collects the results that end a statement (after a COPY); throws the first error.
    pg_result* finishResults();
    QString redacted(QString text) const;

    QByteArray m_conninfo;
    QByteArray m_password;
    int m_timeoutMs;
    pg_conn* m_conn = nullptr;
    bool m_inTransaction = false;
    // Set when the connection was lost inside a transaction: nothing may run on a new
    // connection until the transaction's owner has rolled back.
    bool m_transactionLost = false;
    QHash<QString, std::vector<DbColumnInfo>> m_columns;
};
