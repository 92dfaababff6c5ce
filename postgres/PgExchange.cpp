#include "postgres/PgExchange.h"

#include "platform/DatabaseError.h"
#include "platform/ServerLockWait.h"
#include "platform/ServerRefusal.h"
#include "platform/ServerUnreachable.h"
#include "postgres/PgConnection.h"

#include <QStringList>

#include <functional>
#include <libpq-fe.h>
#include <poll.h>

namespace {

// Reads every result of what was sent until the server has no more: the first error and
// the last other result are kept. `timedOut` runs when the server stays silent past the
// bound (and must throw).
void drainResults(PgConnection& connection, const std::function<void()>& timedOut, PgResult& error,
                  PgResult& last)
{
    pg_conn* conn = connection.get();
    for (;;) {
        while (PQisBusy(conn)) {
            if (!connection.waitFor(POLLIN))
                timedOut();
            if (!PQconsumeInput(conn))
                connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
        }
        PgResult result(PQgetResult(conn));
        if (!result)
            return;
        if (result.isError()) {
            if (!error)
                error = std::move(result);
        } else {
            last = std::move(result);
        }
    }
}

} // namespace

QString PgExchange::oneLine(const QString& report)
{
    QStringList parts;
    for (const QString& line : report.split(u'\n')) {
        const QString part = line.trimmed();
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(u' ');
}

PgResult PgExchange::run(const QByteArray& sql, const std::vector<std::optional<QByteArray>>* parameters)
{
    pg_conn* conn = m_connection.get();
    int sent = 0;
    if (parameters) {
        std::vector<const char*> values;
        values.reserve(parameters->size());
        for (const std::optional<QByteArray>& p : *parameters)
            values.push_back(p ? p->constData() : nullptr);
        // No types given: the server infers each from the context the marker stands in.
        sent = PQsendQueryParams(conn, sql.constData(), int(values.size()), nullptr, values.data(), nullptr,
                                 nullptr, 0);
    } else {
        sent = PQsendQuery(conn, sql.constData());
    }
    if (!sent)
        m_connection.sendFailed();
    return await();
}

quint64 PgExchange::startRows(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters)
{
    finishRows();
    pg_conn* conn = m_connection.get();
    std::vector<const char*> values;
    values.reserve(parameters.size());
    for (const std::optional<QByteArray>& p : parameters)
        values.push_back(p ? p->constData() : nullptr);
    if (!PQsendQueryParams(conn, sql.constData(), int(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0))
        m_connection.sendFailed();
    // Asked for before anything of the answer was read, as libpq requires; were it refused,
    // the rows would still come, only all at once.
    PQsetSingleRowMode(conn);
    m_streaming = true;
    ++m_statement;
    try {
        m_connection.flushSent();
    } catch (...) {
        m_streaming = false;
        throw;
    }
    return m_statement;
}

PgResult PgExchange::nextResult()
{
    pg_conn* conn = m_connection.get();
    while (PQisBusy(conn)) {
        if (!m_connection.waitFor(POLLIN)) {
            m_streaming = false;
            // Nothing is left working on the server for an answer nobody reads.
            m_connection.cancelOnServer();
            m_connection.lost(m_connection.timeoutText());
        }
        if (!PQconsumeInput(conn)) {
            m_streaming = false;
            m_connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
        }
    }
    return PgResult(PQgetResult(conn));
}

PgResult PgExchange::nextRow(quint64 statement)
{
    if (!isStreaming(statement))
        throw DatabaseError(QStringLiteral("The statement's rows are no longer there: another statement was "
                                           "sent on the connection before they were read."));
    PgResult result = nextResult();
    if (result && result.status() == PGRES_SINGLE_TUPLE)
        return result;
    // The statement's closing result, or its refusal: the null that ends its results comes
    // next, and then the connection is free for the next statement.
    while (PgResult more = nextResult()) {
        if (more.isError() && !(result && result.isError()))
            result = std::move(more);
    }
    m_streaming = false;
    if (!result)
        throw DatabaseError(QStringLiteral("The database server ended the statement without an answer."));
    if (result.isError())
        fail(result);
    return result;
}

void PgExchange::finishRows()
{
    if (!m_streaming || !m_connection.isOpen()) {
        m_streaming = false;
        return;
    }
    // Read off rather than cancelled: a cancel could reach the server after this statement
    // ended and stop the next one instead.
    while (nextResult()) {
    }
    m_streaming = false;
}

PgResult PgExchange::await()
{
    m_connection.flushSent();
    PgResult error;
    PgResult last;
    drainResults(
        m_connection,
        [this] {
            // Nothing is left waiting on the server for an answer nobody reads.
            m_connection.cancelOnServer();
            m_connection.lost(m_connection.timeoutText());
        },
        error, last);
    if (error)
        fail(error);
    if (!last)
        throw DatabaseError(QStringLiteral("Command text was not set for the command object."));
    return last;
}

std::vector<PgResult> PgExchange::pipeline(const std::vector<ServerFeatures::Statement>& statements)
{
    std::exception_ptr failure;
    std::vector<PgResult> results = pipelineUntilFailure(statements, failure);
    if (failure)
        std::rethrow_exception(failure);
    return results;
}

std::vector<PgResult>
PgExchange::pipelineUntilFailure(const std::vector<ServerFeatures::Statement>& statements,
                                 std::exception_ptr& failure)
{
    failure = nullptr;
    pg_conn* conn = m_connection.get();
    // Binary dates and times count microseconds in a 64-bit integer, as every server since
    // PostgreSQL 10 does; an older one built with floating-point times would misread them.
    const char* integerTimes = PQparameterStatus(conn, "integer_datetimes");
    for (const ServerFeatures::Statement& statement : statements) {
        if (!statement.binary.empty() && integerTimes && qstrcmp(integerTimes, "on") != 0)
            throw DatabaseError(QStringLiteral("The database server keeps dates and times as floating-point "
                                               "numbers; PostgreSQL 10 or later is needed."));
        for (size_t i : statement.binary) {
            if (i >= statement.parameters.size())
                throw DatabaseError(QStringLiteral("A binary parameter was named that the statement lacks."));
        }
    }
    if (!PQenterPipelineMode(conn))
        m_connection.sendFailed();
    for (const ServerFeatures::Statement& statement : statements) {
        std::vector<const char*> values;
        values.reserve(statement.parameters.size());
        for (const std::optional<QByteArray>& p : statement.parameters)
            values.push_back(p ? p->constData() : nullptr);
        // Binary values carry their length (they may hold zero bytes); text ends at its zero.
        std::vector<int> lengths;
        std::vector<int> formats;
        if (!statement.binary.empty()) {
            lengths.assign(values.size(), 0);
            formats.assign(values.size(), 0);
            for (size_t i : statement.binary) {
                formats[i] = 1;
                lengths[i] = statement.parameters[i] ? int(statement.parameters[i]->size()) : 0;
            }
        }
        if (!PQsendQueryParams(conn, statement.sql.constData(), int(values.size()), nullptr, values.data(),
                               lengths.empty() ? nullptr : lengths.data(),
                               formats.empty() ? nullptr : formats.data(), 0))
            m_connection.sendFailed();
    }
    if (!PQpipelineSync(conn))
        m_connection.sendFailed();
    std::vector<PgResult> results;
    PgResult error;
    try {
        m_connection.flushSent();
        for (;;) {
            while (PQisBusy(conn)) {
                if (!m_connection.waitFor(POLLIN)) {
                    m_connection.cancelOnServer();
                    m_connection.lost(m_connection.timeoutText());
                }
                if (!PQconsumeInput(conn))
                    m_connection.lost(QString::fromUtf8(PQerrorMessage(conn)));
            }
            PgResult result(PQgetResult(conn));
            if (!result)
                continue; // the end of one statement's results
            const int status = result.status();
            if (status == PGRES_PIPELINE_SYNC)
                break;
            if (result.isError()) {
                if (!error)
                    error = std::move(result);
            } else if (status != PGRES_PIPELINE_ABORTED && !error) {
                results.push_back(std::move(result));
            }
        }
    } catch (const Exception&) {
        // The connection is gone (closed with the exception): what was read stands.
        failure = std::current_exception();
        return results;
    }
    PQexitPipelineMode(conn);
    if (error) {
        try {
            fail(error);
        } catch (const Exception&) {
            failure = std::current_exception();
        }
    }
    return results;
}

void PgExchange::fail(const PgResult& error)
{
    const QString message = error.errorMessage();
    if (PQstatus(m_connection.get()) == CONNECTION_BAD)
        m_connection.lost(message);
    const QByteArray state = error.sqlState();
    const QString text = m_connection.redacted(oneLine(message));
    // The server gave up waiting (lock_timeout) or was told to stop: to the terminal that
    // is a server that did not answer in time, and the session is still usable. A lock
    // another session holds is told apart, so that a terminal held up by it can say so once
    // rather than take it for a silent network.
    if (state == "55P03")
        throw ServerLockWait(QStringLiteral("The database server did not answer within %1 ms: %2")
                                 .arg(m_connection.timeoutMs())
                                 .arg(text));
    if (state == "57014")
        throw ServerUnreachable(QStringLiteral("The database server did not answer within %1 ms: %2")
                                    .arg(m_connection.timeoutMs())
                                    .arg(text));
    // A standby (a failover demoted this server, or the target named it): the next
    // connection looks for the server that takes writes.
    if (state == "25006")
        m_connection.lost(text);
    if (isLastingRefusal(state))
        throw ServerRefusal(text, state);
    throw DatabaseError(text, troubleOf(state));
}

PgResult PgExchange::finish()
{
    PgResult error;
    PgResult last;
    drainResults(
        m_connection, [this] { m_connection.lost(m_connection.timeoutText()); }, error, last);
    if (error) {
        const QString message = error.errorMessage();
        if (PQstatus(m_connection.get()) == CONNECTION_BAD)
            m_connection.lost(message);
        throw DatabaseError(m_connection.redacted(oneLine(message)), troubleOf(error.sqlState()));
    }
    return last;
}

DatabaseError::Trouble PgExchange::troubleOf(const QByteArray& sqlState)
{
    // undefined_table: a database without the attendance tables.
    return sqlState == "42P01" ? DatabaseError::Trouble::MissingTable : DatabaseError::Trouble::Unknown;
}

bool PgExchange::isLastingRefusal(const QByteArray& sqlState)
{
    if (sqlState.size() != 5)
        return false;
    const QByteArray sqlClass = sqlState.left(2);
    // 22 data exception (a value the column cannot hold), 23 integrity constraint,
    // 27 triggered data change, 09 triggered action, 38/39 a function's own failure,
    // 44 WITH CHECK OPTION, P0 a PL/pgSQL RAISE or ASSERT, 42501 no privilege.
    return sqlClass == "22" || sqlClass == "23" || sqlClass == "27" || sqlClass == "09" || sqlClass == "38" ||
           sqlClass == "39" || sqlClass == "44" || sqlClass == "P0" || sqlState == "42501";
}
