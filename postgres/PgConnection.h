#pragma once

#include <QByteArray>
#include <QString>

struct pg_conn;

// One libpq connection to a server, made and kept without ever blocking inside libpq: the
// connection attempt, the choice among several hosts (the one that takes writes, unless
// the target says otherwise), every wait on the socket bounded by the network timeout,
// and what happens when the server goes away. A lost connection is dropped and throws
// ServerUnreachable; the next operation connects again, except inside a transaction,
// which must first be rolled back by its owner.
class PgConnection
{
public:
    PgConnection(const QString& conninfo, int networkTimeoutMs);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Connects, trying each host of the target in turn; a refusal by the server itself
    // throws DatabaseError, everything else ServerUnreachable.
    void open();
    bool isOpen() const { return m_conn != nullptr; }
    // Throws when the connection was lost inside a transaction nobody has rolled back yet.
    void checkUsable() const;
    // Between transactions: drops a connection the other end has closed (a pooler or a
    // server restarted, an idle connection ended), so that the next statement goes out on
    // a new one instead of failing. Nothing has been sent on it that could be lost.
    void dropIfClosedByPeer();
    // Drops the connection without a word to the server (the server rolls back what was
    // open).
    void close();

    // For libpq calls inside the server back end.
    pg_conn* get() const { return m_conn; }

    int timeoutMs() const { return m_timeoutMs; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    // "The database server did not answer within N ms."
    QString timeoutText() const;

    // Whether a transaction is open on the connection, as its owner began it.
    bool inTransaction() const { return m_inTransaction; }
    void setInTransaction(bool open) { m_inTransaction = open; }
    // Forgets a transaction that was lost with its connection, once its owner rolled back.
    void forgetLostTransaction() { m_transactionLost = false; }

    // Drops the connection and throws ServerUnreachable with the reason.
    [[noreturn]] void lost(const QString& why);
    // A send libpq refused: a broken connection is lost, anything else is the server's
    // refusal (DatabaseError).
    [[noreturn]] void sendFailed();
    // Waits until the socket is ready for the events; false when the timeout passed first.
    bool waitFor(short events);
    // Sends what libpq still holds. A statement the server may be working on is cancelled
    // there when the wait runs out; a COPY's data is not (the copy ends with the session).
    void flushSent(bool cancelOnTimeout = true);
    // Asks the server to cancel what runs on this connection, without waiting for it.
    void cancelOnServer();
    // The text without the password the connection text holds.
    QString redacted(QString text) const;

    // Without connect_timeout in the target, the wait for each host of the target.
    static constexpr int kDefaultHostTimeoutMs = 2000;

private:
    // Drives one started connection attempt to its end within boundMs (and each wait
    // within the network timeout). False with the reason, and whether the server itself
    // refused (a password, an unknown database) rather than not being there.
    bool finishConnect(pg_conn* conn, int boundMs, QString* failure, bool* refused);

    QByteArray m_conninfo;
    QByteArray m_password;
    int m_timeoutMs;
    pg_conn* m_conn = nullptr;
    bool m_inTransaction = false;
    // Set when the connection was lost inside a transaction: nothing may run on a new
    // connection until the transaction's owner has rolled back.
    bool m_transactionLost = false;
};
