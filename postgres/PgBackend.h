#pragma once

#include "platform/DatabaseError.h"
#include "postgres/PgResult.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"

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
// ServerUnreachable (the connection is dropped and the next operation connects again);
// what the server refuses throws DatabaseError with its message. A password from the
// connection text never appears in a message.
class PgBackend : public DbBackend, public ServerFeatures
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
    // The server's clock as an instant, in the server's own time zone.
    std::optional<QDateTime> serverClock() override;
    ServerFeatures* serverFeatures() override { return this; }

    bool hasDuplicateTestIndex() override;
    // Whether a statement refused with this SQLSTATE would be refused again if sent again
    // unchanged: a constraint, a permission, a trigger's exception, a value out of range.
    // Lock waits, cancels, lost connections, a read-only standby, a missing table and the
    // like are not: they may pass.
    static bool isLastingRefusal(const QByteArray& sqlState);
    // The kind of trouble a user is told about, for an SQLSTATE that is no refusal.
    static DatabaseError::Trouble troubleOf(const QByteArray& sqlState);
    // Without connect_timeout in the target, the wait for each host of the target.
    static constexpr int kDefaultHostTimeoutMs = 2000;

    // libpq's pipeline mode, the results copied out of libpq's.
    std::vector<ServerRows> pipeline(const std::vector<Statement>& statements) override;

    // Runs a statement with positional "$n" parameters given as text (nullopt: NULL).
    void execute(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters);
    // The same, returning the result.
    PgResult run(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters);

    // Bulk paths for the tools.
    qint64 copyIn(const QByteArray& sql, const QByteArray& data) override;
    void copyOut(const QByteArray& sql, const std::function<void(QByteArrayView row)>& visit) override;
    QByteArray literal(const QString& text) override;

private:
    // The pipeline, keeping libpq's results as they are.
    std::vector<PgResult> pipelineResults(const std::vector<Statement>& statements);
    // BEGIN, and in the same round trip the transaction's advisory lock statement when
    // one is given.
    void begin(const QByteArray& lockSql, const std::vector<std::optional<QByteArray>>& lockParameters);
    void connect();
    // Drives one started connection attempt to its end within boundMs (and each wait
    // within the network timeout). False with the reason, and whether the server itself
    // refused (a password, an unknown database) rather than not being there.
    bool finishConnect(pg_conn* conn, int boundMs, QString* failure, bool* refused);
    // Asks the server to cancel what runs on this connection, without waiting for it.
    void cancelOnServer();
    // lock_timeout for the session: a little under the wait for the server, so that the
    // server ends a lock wait itself rather than keep a backend waiting for a client
    // that gave up. 0: none.
    int lockTimeoutMs() const;
    void ensureConnected();
    void checkSchema();
    // Sends the statement and waits for its results; the simple protocol allows several
    // statements in one text.
    pg_result* roundTrip(const QByteArray& sql, const std::vector<std::optional<QByteArray>>* parameters);
    // Flushes what was sent and collects its results: the last one, or the first error thrown.
    pg_result* awaitResults();
    // Sends what libpq still holds. A statement the server may be working on is cancelled
    // there when the wait runs out; a COPY's data is not (the copy ends with the session).
    void flushSent(bool cancelOnTimeout = true);
    [[noreturn]] void sendFailed();
    [[noreturn]] void failWith(const pg_result* error);
    // The name the statement is prepared under on this session, preparing it first;
    // empty when the session holds as many as it keeps.
    QByteArray preparedName(const QByteArray& sql, int parameterCount);
    // Waits until the socket is ready for the events; false when the timeout passed first.
    bool waitFor(short events);
    [[noreturn]] void lost(const QString& why);
    // Sends a COPY statement and waits until the server has started the copy, into the
    // server (COPY ... FROM STDIN) or out of it (COPY ... TO STDOUT); a refusal is thrown.
    void sendCopy(const QByteArray& sql, bool toServer);
    // Collects the results that end a statement (after a COPY); throws the first error.
    pg_result* finishResults();
    QString redacted(QString text) const;

    QByteArray m_conninfo;
    QByteArray m_password;
    int m_timeoutMs;
    // lock_timeout as last set on the session (-1: not yet).
    int m_sessionLockTimeoutMs = -1;
    pg_conn* m_conn = nullptr;
    bool m_inTransaction = false;
    // Set when the connection was lost inside a transaction: nothing may run on a new
    // connection until the transaction's owner has rolled back.
    bool m_transactionLost = false;
    QHash<QString, std::vector<DbColumnInfo>> m_columns;
    // Statements prepared on this session, by text: at most kPreparedLimit, the rest
    // (deletes by row values, which vary) are sent unprepared.
    QHash<QByteArray, QByteArray> m_prepared;
    static constexpr qsizetype kPreparedLimit = 32;
};
