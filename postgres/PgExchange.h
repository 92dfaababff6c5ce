#pragma once

#include "platform/DatabaseError.h"
#include "postgres/PgResult.h"
#include "query/ServerFeatures.h"

#include <QByteArray>
#include <QString>

#include <exception>
#include <optional>
#include <vector>

class PgConnection;

// Statements sent and their replies read on an open connection: one statement, several in
// one round trip (libpq's pipeline mode), and the end of a COPY. Every wait is bounded by
// the connection's timeout; a statement the terminal gives up on is cancelled on the
// server. What the server refuses becomes the exception its SQLSTATE calls for.
//
// Nothing is left on the server's session between statements: no statement is prepared
// under a name, so that a connection pooler may hand the server connection to another
// client after every transaction and that client meets nothing of this one's.
class PgExchange
{
public:
    explicit PgExchange(PgConnection& connection) : m_connection(connection) {}

    // Sends one statement and waits for its results. Without parameters the simple
    // protocol is used, which allows several statements in one text; with them (an empty
    // list included) the statement is sent as an unnamed one with its "$n" values as
    // text (nullopt: NULL). Returns the last result; the first error throws.
    PgResult run(const QByteArray& sql, const std::vector<std::optional<QByteArray>>* parameters);
    // Every statement sent before waiting for the first answer: one network round trip.
    // Returns their results in order; the first error throws after the statements behind
    // it were skipped by the server.
    std::vector<PgResult> pipeline(const std::vector<ServerFeatures::Statement>& statements);
    // The same, handing the first failure back instead of throwing it: the results of the
    // statements the server ran before it, in order (a prefix of the statements), and in
    // `failure` what pipeline() would have thrown (a refusal, a lock wait, a lost
    // connection; null when every statement ran).
    std::vector<PgResult> pipelineUntilFailure(const std::vector<ServerFeatures::Statement>& statements,
                                               std::exception_ptr& failure);
    // A statement whose rows are read one at a time as the server sends them (libpq's
    // single-row mode), so that a large result is never held whole and the first rows are
    // at hand before the last ones have come. startRows sends it and returns its number;
    // nextRow returns each row as a result of its own, then the statement's closing result
    // (no rows: the columns of a query, or a command's count), after which the statement is
    // done. A refusal, also one after some rows, throws as run() does; each wait is bounded
    // as for run(). Only one statement's rows come at a time: anything else sent on the
    // connection reads the rest off first (finishRows), and the number of a statement so
    // ended is refused.
    quint64 startRows(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters);
    PgResult nextRow(quint64 statement);
    // Reads off and drops what is left of the statement whose rows are coming, if any.
    void finishRows();
    // Whether the numbered statement's rows are still coming.
    bool isStreaming(quint64 statement) const { return m_streaming && statement == m_statement; }
    // Collects the results that end a statement (after a COPY); throws the first error as
    // a plain DatabaseError.
    PgResult finish();
    // Throws the exception a refused statement calls for: ServerUnreachable for a lock
    // wait the server gave up, a cancel or a standby (the connection dropped for the
    // last), ServerRefusal for a refusal that would be repeated, else DatabaseError.
    [[noreturn]] void fail(const PgResult& error);

    // Whether a statement refused with this SQLSTATE would be refused again if sent again
    // unchanged: a constraint, a permission, a trigger's exception, a value out of range.
    // Lock waits, cancels, lost connections, a read-only standby, a missing table and the
    // like are not: they may pass.
    static bool isLastingRefusal(const QByteArray& sqlState);
    // The kind of trouble a user is told about, for an SQLSTATE that is no refusal.
    static DatabaseError::Trouble troubleOf(const QByteArray& sqlState);
    // The server's report of a failed statement runs over several lines (ERROR, DETAIL,
    // CONTEXT, HINT); an error here is one line of text, as the error log keeps it.
    static QString oneLine(const QString& report);

private:
    // Flushes what was sent and collects its results: the last one, or the first error thrown.
    PgResult await();
    // The next result of what was sent (null once there is no more), waiting within the
    // bound; a silent server is cancelled and the connection dropped.
    PgResult nextResult();

    PgConnection& m_connection;
    bool m_streaming = false;
    quint64 m_statement = 0;
};
