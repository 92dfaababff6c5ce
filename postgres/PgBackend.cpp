#include "postgres/PgBackend.h"

#include "platform/DatabaseError.h"
#include "platform/ServerLockWait.h"
#include "platform/ServerRefusal.h"
#include "platform/ServerUnreachable.h"
#include "query/SqlStatementPlan.h"
#include "query/Statements.h"

#include <QDeadlineTimer>
#include <QTimeZone>

#include <atomic>
#include <cerrno>
#include <libpq-fe.h>
#include <poll.h>
#include <thread>

namespace {

// Type OIDs of the built-in types the terminal meets (pg_type.h).
enum : Oid
{
    kBool = 16,
    kBytea = 17,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kText = 25,
    kOid = 26,
    kTid = 27,
    kFloat4 = 700,
    kFloat8 = 701,
    kBpchar = 1042,
    kVarchar = 1043,
    kDate = 1082,
    kTime = 1083,
    kTimestamp = 1114,
    kTimestamptz = 1184,
    kTimetz = 1266,
    kNumeric = 1700,
};

// First key of the two-key advisory locks the terminals take, so that they can never meet
// a lock another application takes with a single 64-bit key or with another class.
constexpr int kSwipeLockClass = PgBackend::kSwipeLockClass;
constexpr int kEmployeeListLockClass = 0x54617632; // "Tav2"

struct ResultDeleter
{
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

QString declaredType(Oid type, int modifier)
{
    switch (type) {
    case kVarchar:
        return modifier >= 4 ? QStringLiteral("VARCHAR(%1)").arg(modifier - 4) : QStringLiteral("VARCHAR");
    case kBpchar:
        return modifier >= 4 ? QStringLiteral("CHAR(%1)").arg(modifier - 4) : QStringLiteral("CHAR");
    case kText:
        return QStringLiteral("TEXT");
    case kDate:
        return QStringLiteral("DATE");
    case kTime:
        return QStringLiteral("TIME");
    case kTimetz:
        return QStringLiteral("TIME WITH TIME ZONE");
    case kTimestamp:
        return QStringLiteral("TIMESTAMP");
    case kTimestamptz:
        return QStringLiteral("TIMESTAMP WITH TIME ZONE");
    case kInt2:
        return QStringLiteral("SMALLINT");
    case kInt4:
        return QStringLiteral("INTEGER");
    case kInt8:
        return QStringLiteral("BIGINT");
    case kOid:
        return QStringLiteral("OID");
    case kFloat4:
        return QStringLiteral("REAL");
    case kFloat8:
        return QStringLiteral("DOUBLE PRECISION");
    case kNumeric:
        return QStringLiteral("NUMERIC");
    case kBool:
        return QStringLiteral("BOOLEAN");
    case kBytea:
        return QStringLiteral("BYTEA");
    case kTid:
        return QStringLiteral("TID");
    default:
        return {};
    }
}

std::optional<QByteArray> parameterText(const DbValue& value)
{
    if (const auto* i = std::get_if<qint64>(&value))
        return QByteArray::number(*i);
    if (const auto* d = std::get_if<double>(&value))
        return QByteArray::number(*d, 'g', 17);
    if (const auto* s = std::get_if<QString>(&value))
        return s->toUtf8();
    if (const auto* b = std::get_if<QByteArray>(&value))
        return "\\x" + b->toHex();
    return std::nullopt;
}

bool isTextual(const QString& type)
{
    return type.startsWith(u"character varying") || type.startsWith(u"character(") || type == u"character" ||
           type == u"text";
}

class PgCursor : public DbCursor
{
public:
    PgCursor(PgBackend& backend, QByteArray sql, size_t parameterCount)
        : m_backend(backend), m_sql(std::move(sql)), m_parameters(parameterCount)
    {
    }

    void bindText(int position, const QString& value) override { at(position) = value.toUtf8(); }
    void bindNull(int position) override { at(position) = std::nullopt; }
    void bindValue(int position, const DbValue& value) override { at(position) = parameterText(value); }

    bool step() override
    {
        if (!m_result) {
            m_result.reset(m_backend.run(m_sql, m_parameters).release());
            m_row = -1;
        }
        if (m_row < PQntuples(m_result.get()))
            ++m_row;
        return m_row < PQntuples(m_result.get());
    }
    int columnCount() const override { return m_result ? PQnfields(m_result.get()) : -1; }
    QString columnName(int column) const override
    {
        return QString::fromUtf8(PQfname(m_result.get(), column));
    }
    QString columnDeclaredType(int column) const override
    {
        return declaredType(PQftype(m_result.get(), column), PQfmod(m_result.get(), column));
    }

    Type columnType(int column) const override
    {
        if (PQgetisnull(m_result.get(), m_row, column))
            return Type::Null;
        switch (PQftype(m_result.get(), column)) {
        case kInt2:
        case kInt4:
        case kInt8:
        case kOid:
            return Type::Integer;
        case kFloat4:
        case kFloat8:
            return Type::Float;
        case kBytea:
            return Type::Blob;
        default:
            return Type::Text;
        }
    }
    qint64 columnInt64(int column) const override { return raw(column).toLongLong(); }
    double columnDouble(int column) const override { return raw(column).toDouble(); }
    QString columnText(int column) const override
    {
        return QString::fromUtf8(PQgetvalue(m_result.get(), m_row, column),
                                 PQgetlength(m_result.get(), m_row, column));
    }
    QByteArray columnBlob(int column) const override
    {
        size_t length = 0;
        unsigned char* bytes = PQunescapeBytea(
            reinterpret_cast<const unsigned char*>(PQgetvalue(m_result.get(), m_row, column)), &length);
        QByteArray blob(reinterpret_cast<const char*>(bytes), qsizetype(length));
        PQfreemem(bytes);
        return blob;
    }

    qint64 rowsChanged() const override
    {
        if (!m_result || PQresultStatus(m_result.get()) != PGRES_COMMAND_OK)
            return 0;
        return QByteArray(PQcmdTuples(m_result.get())).toLongLong();
    }
    bool isReadOnly() const override { return m_result && PQresultStatus(m_result.get()) == PGRES_TUPLES_OK; }

private:
    std::optional<QByteArray>& at(int position)
    {
        if (position < 1 || size_t(position) > m_parameters.size())
            throw DatabaseError(QStringLiteral("Parameter %1 is out of range.").arg(position));
        return m_parameters[size_t(position - 1)];
    }
    QByteArray raw(int column) const
    {
        return QByteArray(PQgetvalue(m_result.get(), m_row, column),
                          PQgetlength(m_result.get(), m_row, column));
    }

    PgBackend& m_backend;
    QByteArray m_sql;
    std::vector<std::optional<QByteArray>> m_parameters;
    Result m_result;
    int m_row = -1;
};

// The server's report of a failed statement runs over several lines (ERROR, DETAIL,
// CONTEXT, HINT). A provider error is one line of text, and the error log keeps one line
// per failure, so the lines are joined.
QString oneLine(const QString& report)
{
    QStringList parts;
    for (const QString& line : report.split(u'\n')) {
        const QString part = line.trimmed();
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(u' ');
}

} // namespace

PgBackend::PgBackend(const QString& conninfo, int networkTimeoutMs, bool checkTables)
    : m_conninfo(conninfo.toUtf8()), m_timeoutMs(networkTimeoutMs)
{
    char* error = nullptr;
    if (PQconninfoOption* options = PQconninfoParse(m_conninfo.constData(), &error)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (qstrcmp(o->keyword, "password") == 0 && o->val)
                m_password = o->val;
        PQconninfoFree(options);
    }
    PQfreemem(error);
    connect();
    if (checkTables)
        checkSchema();
}

PgBackend::~PgBackend()
{
    PQfinish(m_conn);
}

QString PgBackend::redacted(QString text) const
{
    if (!m_password.isEmpty())
        text.replace(QString::fromUtf8(m_password), QStringLiteral("********"));
    return text.trimmed();
}

void PgBackend::lost(const QString& why)
{
    PQfinish(m_conn);
    m_conn = nullptr;
    if (m_inTransaction) {
        m_inTransaction = false;
        m_transactionLost = true;
    }
    throw ServerUnreachable(redacted(why));
}

namespace {

// Waits until the socket is ready for the events: false when ms passed first (ms < 0: no
// bound).
bool waitOn(int socket, short events, qint64 ms)
{
    if (socket < 0)
        return false;
    QDeadlineTimer deadline = ms >= 0 ? QDeadlineTimer(ms) : QDeadlineTimer(QDeadlineTimer::Forever);
    for (;;) {
        pollfd descriptor{socket, events, 0};
        const qint64 remaining = deadline.remainingTime();
        const int ready = ::poll(&descriptor, 1, remaining < 0 ? -1 : int(remaining));
        if (ready > 0)
            return true;
        if (ready == 0)
            return false;
        if (errno != EINTR)
            return true; // let libpq meet the error on the socket
    }
}

// A connection's settings as libpq resolved them (the text, a service file, the PG...
// environment and its defaults), keyword and value, set ones only.
using Settings = std::vector<std::pair<QByteArray, QByteArray>>;

Settings settingsOf(PGconn* conn)
{
    Settings settings;
    if (PQconninfoOption* options = PQconninfo(conn)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (o->val)
                settings.emplace_back(o->keyword, o->val);
        PQconninfoFree(options);
    }
    return settings;
}

QByteArray settingOf(const Settings& settings, const char* keyword)
{
    for (const auto& [key, value] : settings)
        if (key == keyword)
            return value;
    return {};
}

// The value the text itself, or else the environment, gives a keyword; empty when neither.
QByteArray givenValue(const QByteArray& conninfo, const char* keyword, const char* environment)
{
    QByteArray value;
    char* error = nullptr;
    if (PQconninfoOption* options = PQconninfoParse(conninfo.constData(), &error)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (qstrcmp(o->keyword, keyword) == 0 && o->val)
                value = o->val;
        PQconninfoFree(options);
    }
    PQfreemem(error);
    if (value.isEmpty())
        value = qgetenv(environment);
    return value;
}

QList<QByteArray> listOf(const QByteArray& value)
{
    return value.isEmpty() ? QList<QByteArray>() : value.split(',');
}

} // namespace

bool PgBackend::waitFor(short events)
{
    return waitOn(PQsocket(m_conn), events, m_timeoutMs > 0 ? m_timeoutMs : -1);
}

bool PgBackend::finishConnect(PGconn* conn, int boundMs, QString* failure, bool* refused)
{
    *refused = false;
    if (!conn) {
        *failure = QStringLiteral("Cannot connect to the database server: out of memory.");
        return false;
    }
    const QDeadlineTimer hostDeadline(boundMs);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (PQstatus(conn) != CONNECTION_BAD && state != PGRES_POLLING_OK && state != PGRES_POLLING_FAILED) {
        const qint64 left = hostDeadline.remainingTime();
        const bool perWait = m_timeoutMs > 0 && m_timeoutMs < left;
        if (!waitOn(PQsocket(conn), state == PGRES_POLLING_READING ? POLLIN : POLLOUT,
                    perWait ? m_timeoutMs : left)) {
            *failure = QStringLiteral("The database server did not answer within %1 ms.")
                           .arg(perWait ? m_timeoutMs : boundMs);
            return false;
        }
        state = PQconnectPoll(conn);
    }
    if (PQstatus(conn) == CONNECTION_OK)
        return true;
    const QString message = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    // The server answered and refused: a wrong password, an unknown database or role,
    // no entry that admits this client. Trying again does not help; everything else
    // (refused, unknown host, no route, a server starting or going down, a standby where
    // a primary is wanted) may pass.
    *refused = PQconnectionNeedsPassword(conn) || PQconnectionUsedPassword(conn) ||
               message.contains(u"does not exist") || message.contains(u"pg_hba.conf");
    *failure = message;
    return false;
}

void PgBackend::connect()
{
    // Later keywords win over those inside the expanded text: the terminal's texts are UTF-8.
    const char* const keys[] = {"fallback_application_name", "dbname", "client_encoding", nullptr};
    const char* const values[] = {"tavelo", m_conninfo.constData(), "UTF8", nullptr};
    PGconn* first = PQconnectStartParams(keys, values, 1);
    if (!first)
        throw ServerUnreachable(QStringLiteral("Cannot connect to the database server: out of memory."));

    const Settings settings = settingsOf(first);
    const int givenTimeout = settingOf(settings, "connect_timeout").toInt();
    // libpq's own rule: whole seconds, at least two.
    const int hostBoundMs = givenTimeout > 0 ? qMax(givenTimeout, 2) * 1000 : kDefaultHostTimeoutMs;
    const QList<QByteArray> hosts = listOf(settingOf(settings, "host"));
    const QList<QByteArray> addresses = listOf(settingOf(settings, "hostaddr"));
    const QList<QByteArray> ports = listOf(settingOf(settings, "port"));
    const qsizetype hostCount = qMax(hosts.size(), addresses.size());

    QStringList failures;
    bool everyHostRefused = true;
    if (hostCount <= 1) {
        QString failure;
        bool refused = false;
        if (finishConnect(first, hostBoundMs, &failure, &refused)) {
            m_conn = first;
        } else {
            PQfinish(first);
            failures.append(failure);
            everyHostRefused = refused;
        }
    } else {
        // libpq, left to itself, waits on a host that does not answer for as long as the
        // whole bound and never gets to the next one. So each host is tried on its own,
        // in turn, for its own bounded time. A terminal writes: unless the target says
        // otherwise, only a server that takes writes will do (a standby is skipped until
        // it is promoted).
        PQfinish(first);
        QByteArray wanted = givenValue(m_conninfo, "target_session_attrs", "PGTARGETSESSIONATTRS");
        if (wanted.isEmpty())
            wanted = "read-write";
        const QList<QByteArray> passes =
            wanted == "prefer-standby" ? QList<QByteArray>{"standby", "any"} : QList<QByteArray>{wanted};
        for (const QByteArray& pass : passes) {
            for (qsizetype i = 0; i < hostCount && !m_conn; ++i) {
                std::vector<QByteArray> hostKeys;
                std::vector<QByteArray> hostValues;
                for (const auto& [key, value] : settings) {
                    if (key == "host" || key == "hostaddr" || key == "port" ||
                        key == "target_session_attrs" || key == "client_encoding")
                        continue;
                    hostKeys.push_back(key);
                    hostValues.push_back(value);
                }
                const auto add = [&](const char* key, const QByteArray& value) {
                    hostKeys.push_back(key);
                    hostValues.push_back(value);
                };
                if (i < hosts.size() && !hosts.at(i).isEmpty())
                    add("host", hosts.at(i));
                if (i < addresses.size() && !addresses.at(i).isEmpty())
                    add("hostaddr", addresses.at(i));
                if (ports.size() == 1)
                    add("port", ports.first());
                else if (i < ports.size() && !ports.at(i).isEmpty())
                    add("port", ports.at(i));
                add("target_session_attrs", pass);
                add("client_encoding", "UTF8");
                std::vector<const char*> k;
                std::vector<const char*> v;
                for (size_t n = 0; n < hostKeys.size(); ++n) {
                    k.push_back(hostKeys[n].constData());
                    v.push_back(hostValues[n].constData());
                }
                k.push_back(nullptr);
                v.push_back(nullptr);
                PGconn* conn = PQconnectStartParams(k.data(), v.data(), 0);
                QString failure;
                bool refused = false;
                if (finishConnect(conn, hostBoundMs, &failure, &refused)) {
                    m_conn = conn;
                    break;
                }
                PQfinish(conn);
                const QByteArray name = i < hosts.size() && !hosts.at(i).isEmpty() ? hosts.at(i)
                                        : i < addresses.size()                     ? addresses.at(i)
                                                                                   : QByteArray();
                failures.append(QStringLiteral("%1: %2").arg(QString::fromUtf8(name), failure.simplified()));
                everyHostRefused = everyHostRefused && refused;
            }
            if (m_conn)
                break;
        }
    }
    if (!m_conn) {
        const QString message = failures.join(u' ');
        if (everyHostRefused)
            throw DatabaseError(redacted(message));
        throw ServerUnreachable(redacted(message));
    }
    PQsetnonblocking(m_conn, 1);
    m_columns.clear();
    m_prepared.clear();
    m_sessionLockTimeoutMs = lockTimeoutMs();
    // Dates are read back as yyyy-mm-dd whatever the server's default style is.
    PQclear(roundTrip("SET DateStyle TO ISO, YMD; SET lock_timeout = " +
                          QByteArray::number(m_sessionLockTimeoutMs),
                      nullptr));
}

int PgBackend::lockTimeoutMs() const
{
    if (m_timeoutMs <= 0)
        return 0;
    return qMax(m_timeoutMs - qMax(100, m_timeoutMs / 5), qMax(1, m_timeoutMs / 2));
}

void PgBackend::cancelOnServer()
{
    // The server would go on waiting (for a lock, say) on behalf of a client that gave up,
    // one backend more at every try. A cancel request ends the statement and with it the
    // wait. libpq's cancel blocks until the server took the request, so it runs on a
    // thread of its own: a network that swallows it holds only that thread, and never
    // more than a few of them at once.
    static std::atomic<int> inFlight{0};
    if (!m_conn || PQtransactionStatus(m_conn) != PQTRANS_ACTIVE || inFlight.load() >= 4)
        return;
    PGcancel* cancel = PQgetCancel(m_conn);
    if (!cancel)
        return;
    ++inFlight;
    std::thread([cancel] {
        char error[256];
        PQcancel(cancel, error, int(sizeof(error)));
        PQfreeCancel(cancel);
        --inFlight;
    }).detach();
}

void PgBackend::ensureConnected()
{
    if (m_transactionLost)
        throw ServerUnreachable(QStringLiteral("The connection to the database server was lost."));
    if (!m_conn)
        connect();
}

PGresult* PgBackend::roundTrip(const QByteArray& sql,
                               const std::vector<std::optional<QByteArray>>* parameters)
{
    ensureConnected();
    int sent = 0;
    if (parameters) {
        std::vector<const char*> values;
        values.reserve(parameters->size());
        for (const std::optional<QByteArray>& p : *parameters)
            values.push_back(p ? p->constData() : nullptr);
        // A statement with parameters is a swipe's (the duplicate test, the insert) or
        // alike: parsed and planned once per session, not at every swipe. No types
        // given: the server infers each from the context the marker stands in.
        const QByteArray name = values.empty() ? QByteArray() : preparedName(sql, int(values.size()));
        sent = name.isEmpty() ? PQsendQueryParams(m_conn, sql.constData(), int(values.size()), nullptr,
                                                  values.data(), nullptr, nullptr, 0)
                              : PQsendQueryPrepared(m_conn, name.constData(), int(values.size()),
                                                    values.data(), nullptr, nullptr, 0);
    } else {
        sent = PQsendQuery(m_conn, sql.constData());
    }
    if (!sent)
        sendFailed();
    return awaitResults();
}

void PgBackend::sendFailed()
{
    const QString message = QString::fromUtf8(PQerrorMessage(m_conn));
    if (PQstatus(m_conn) == CONNECTION_BAD)
        lost(message);
    throw DatabaseError(redacted(message));
}

namespace {

// Reads every result of what was sent until the server has no more: the first error and
// the last other result are kept. `timedOut` runs when the server stays silent past the
// bound (and must throw); `gone` when the connection breaks.
void drainResults(pg_conn* conn, const std::function<bool(short)>& wait, const std::function<void()>& timedOut,
                  const std::function<void(const QString&)>& gone, Result& error, Result& last)
{
    for (;;) {
        while (PQisBusy(conn)) {
            if (!wait(POLLIN))
                timedOut();
            if (!PQconsumeInput(conn))
                gone(QString::fromUtf8(PQerrorMessage(conn)));
        }
        Result result(PQgetResult(conn));
        if (!result)
            return;
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE) {
            if (!error)
                error = std::move(result);
        } else {
            last = std::move(result);
        }
    }
}

} // namespace

PGresult* PgBackend::awaitResults()
{
    flushSent();
    const QString timeout =
        QStringLiteral("The database server did not answer within %1 ms.").arg(m_timeoutMs);
    Result error;
    Result last;
    drainResults(
        m_conn, [this](short events) { return waitFor(events); },
        [&] {
            // Nothing is left waiting on the server for an answer nobody reads.
            cancelOnServer();
            lost(timeout);
        },
        [this](const QString& why) { lost(why); }, error, last);
    if (error)
        failWith(error.get());
    if (!last)
        throw DatabaseError(QStringLiteral("Command text was not set for the command object."));
    return last.release();
}

void PgBackend::flushSent(bool cancelOnTimeout)
{
    const QString timeout =
        QStringLiteral("The database server did not answer within %1 ms.").arg(m_timeoutMs);
    for (;;) {
        const int flushed = PQflush(m_conn);
        if (flushed == 0)
            return;
        if (flushed < 0)
            lost(QString::fromUtf8(PQerrorMessage(m_conn)));
        if (!waitFor(POLLIN | POLLOUT)) {
            if (cancelOnTimeout)
                cancelOnServer();
            lost(timeout);
        }
        if (!PQconsumeInput(m_conn))
            lost(QString::fromUtf8(PQerrorMessage(m_conn)));
    }
}

QByteArray PgBackend::preparedName(const QByteArray& sql, int parameterCount)
{
    QByteArray name = m_prepared.value(sql);
    if (name.isEmpty() && m_prepared.size() < kPreparedLimit) {
        const QByteArray fresh = "tavelo_" + QByteArray::number(m_prepared.size() + 1);
        if (!PQsendPrepare(m_conn, fresh.constData(), sql.constData(), parameterCount, nullptr))
            sendFailed();
        PQclear(awaitResults());
        m_prepared.insert(sql, fresh);
        name = fresh;
    }
    return name;
}

std::vector<ServerRows> PgBackend::pipeline(const std::vector<Statement>& statements)
{
    std::vector<ServerRows> copied;
    for (const PgResult& result : pipelineResults(statements)) {
        std::vector<std::vector<QByteArray>> rows(size_t(result.rows()));
        for (int row = 0; row < result.rows(); ++row)
            for (int column = 0; column < result.columns(); ++column)
                rows[size_t(row)].emplace_back(result.value(row, column));
        copied.emplace_back(std::move(rows));
    }
    return copied;
}

std::vector<PgResult> PgBackend::pipelineResults(const std::vector<Statement>& statements)
{
    ensureConnected();
    for (const Statement& statement : statements)
        if (!statement.parameters.empty())
            preparedName(statement.sql, int(statement.parameters.size()));
    if (!PQenterPipelineMode(m_conn))
        sendFailed();
    for (const Statement& statement : statements) {
        std::vector<const char*> values;
        for (const std::optional<QByteArray>& p : statement.parameters)
            values.push_back(p ? p->constData() : nullptr);
        const QByteArray name = m_prepared.value(statement.sql);
        const int sent = name.isEmpty()
                             ? PQsendQueryParams(m_conn, statement.sql.constData(), int(values.size()),
                                                 nullptr, values.data(), nullptr, nullptr, 0)
                             : PQsendQueryPrepared(m_conn, name.constData(), int(values.size()),
                                                   values.data(), nullptr, nullptr, 0);
        if (!sent)
            sendFailed();
    }
    if (!PQpipelineSync(m_conn))
        sendFailed();
    flushSent();
    const QString timeout =
        QStringLiteral("The database server did not answer within %1 ms.").arg(m_timeoutMs);
    std::vector<Result> results;
    Result error;
    for (;;) {
        while (PQisBusy(m_conn)) {
            if (!waitFor(POLLIN)) {
                cancelOnServer();
                lost(timeout);
            }
            if (!PQconsumeInput(m_conn))
                lost(QString::fromUtf8(PQerrorMessage(m_conn)));
        }
        Result result(PQgetResult(m_conn));
        if (!result)
            continue; // the end of one statement's results
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_PIPELINE_SYNC)
            break;
        if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE) {
            if (!error)
                error = std::move(result);
        } else if (status != PGRES_PIPELINE_ABORTED) {
            results.push_back(std::move(result));
        }
    }
    PQexitPipelineMode(m_conn);
    if (error)
        failWith(error.get());
    std::vector<PgResult> owned;
    owned.reserve(results.size());
    for (Result& result : results)
        owned.emplace_back(result.release());
    return owned;
}

void PgBackend::failWith(const PGresult* error)
{
    {
        const QString message = QString::fromUtf8(PQresultErrorMessage(error));
        if (PQstatus(m_conn) == CONNECTION_BAD)
            lost(message);
        const QByteArray state(PQresultErrorField(error, PG_DIAG_SQLSTATE));
        const QString text = redacted(oneLine(message));
        // The server gave up waiting (lock_timeout) or was told to stop: to the terminal
        // that is a server that did not answer in time, and the session is still usable.
        // A lock another session holds is told apart, so that a terminal held up by it can
        // say so once rather than take it for a silent network.
        if (state == "55P03")
            throw ServerLockWait(QStringLiteral("The database server did not answer within %1 ms: %2")
                                     .arg(m_timeoutMs)
                                     .arg(text));
        if (state == "57014")
            throw ServerUnreachable(QStringLiteral("The database server did not answer within %1 ms: %2")
                                         .arg(m_timeoutMs)
                                         .arg(text));
        // A standby (a failover demoted this server, or the target named it): the next
        // connection looks for the server that takes writes.
        if (state == "25006")
            lost(text);
        if (isLastingRefusal(state))
            throw ServerRefusal(text, state);
        throw DatabaseError(text, troubleOf(state));
    }
}

PgResult PgBackend::run(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters)
{
    return PgResult(roundTrip(sql, &parameters));
}

void PgBackend::execute(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters)
{
    PQclear(roundTrip(sql, &parameters));
}

PGresult* PgBackend::finishResults()
{
    const QString timeout =
        QStringLiteral("The database server did not answer within %1 ms.").arg(m_timeoutMs);
    Result error;
    Result last;
    drainResults(
        m_conn, [this](short events) { return waitFor(events); }, [&] { lost(timeout); },
        [this](const QString& why) { lost(why); }, error, last);
    if (error) {
        const QString message = QString::fromUtf8(PQresultErrorMessage(error.get()));
        if (PQstatus(m_conn) == CONNECTION_BAD)
            lost(message);
        throw DatabaseError(redacted(oneLine(message)),
                            troubleOf(QByteArray(PQresultErrorField(error.get(), PG_DIAG_SQLSTATE))));
    }
    return last.release();
}

namespace {

// Starts a COPY: sends the statement and waits for the server to switch to copying, or
// for its refusal. Returns false when the statement did not start a copy of that kind.
bool startCopy(pg_conn* conn, ExecStatusType wanted, const std::function<bool(short)>& wait,
               const std::function<void(const QString&)>& lost)
{
    for (;;) {
        while (PQisBusy(conn)) {
            if (!wait(POLLIN))
                lost(QStringLiteral("The database server did not answer in time."));
            if (!PQconsumeInput(conn))
                lost(QString::fromUtf8(PQerrorMessage(conn)));
        }
        Result result(PQgetResult(conn));
        if (!result)
            return false;
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == wanted)
            return true;
        if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE)
            throw DatabaseError(oneLine(QString::fromUtf8(PQresultErrorMessage(result.get()))));
    }
}

} // namespace

void PgBackend::sendCopy(const QByteArray& sql, bool toServer)
{
    ensureConnected();
    if (!PQsendQuery(m_conn, sql.constData()))
        lost(QString::fromUtf8(PQerrorMessage(m_conn)));
    flushSent(false);
    const auto wait = [this](short events) { return waitFor(events); };
    const auto gone = [this](const QString& why) { lost(why); };
    bool copying = false;
    try {
        copying = startCopy(m_conn, toServer ? PGRES_COPY_IN : PGRES_COPY_OUT, wait, gone);
    } catch (const DatabaseError& e) {
        // The refusal ends the statement; what follows it is collected and dropped.
        PQclear(finishResults());
        throw DatabaseError(redacted(e.message()));
    }
    if (!copying)
        throw DatabaseError(toServer ? QStringLiteral("The statement did not start a copy to the server.")
                                     : QStringLiteral("The statement did not start a copy from the server."));
}

qint64 PgBackend::copyIn(const QByteArray& sql, const QByteArray& data)
{
    sendCopy(sql, true);
    // Pieces of this size keep libpq's buffer small while every send is a full packet.
    constexpr qsizetype kPiece = 256 * 1024;
    const QString timeout =
        QStringLiteral("The database server did not answer within %1 ms.").arg(m_timeoutMs);
    for (qsizetype at = 0; at < data.size();) {
        const qsizetype length = qMin(kPiece, data.size() - at);
        const int put = PQputCopyData(m_conn, data.constData() + at, int(length));
        if (put < 0)
            lost(QString::fromUtf8(PQerrorMessage(m_conn)));
        if (put == 0) {
            if (!waitFor(POLLOUT))
                lost(timeout);
            continue;
        }
        at += length;
        // Sending as we go: a full socket means the server is still reading.
        if (PQflush(m_conn) > 0 && !waitFor(POLLIN | POLLOUT))
            lost(timeout);
        if (!PQconsumeInput(m_conn))
            lost(QString::fromUtf8(PQerrorMessage(m_conn)));
    }
    for (;;) {
        const int ended = PQputCopyEnd(m_conn, nullptr);
        if (ended < 0)
            lost(QString::fromUtf8(PQerrorMessage(m_conn)));
        if (ended > 0)
            break;
        if (!waitFor(POLLOUT))
            lost(timeout);
    }
    flushSent(false);
    const Result result(finishResults());
    return result ? QByteArray(PQcmdTuples(result.get())).toLongLong() : 0;
}

void PgBackend::copyOut(const QByteArray& sql, const std::function<void(QByteArrayView row)>& visit)
{
    sendCopy(sql, false);
    const QString timeout =
        QStringLiteral("The database server did not answer within %1 ms.").arg(m_timeoutMs);
    for (;;) {
        char* row = nullptr;
        const int length = PQgetCopyData(m_conn, &row, 1);
        if (length > 0) {
            try {
                visit(QByteArrayView(row, length > 0 && row[length - 1] == '\n' ? length - 1 : length));
            } catch (...) {
                PQfreemem(row);
                // The server is still sending the rest; only a new connection stops that.
                PQfinish(m_conn);
                m_conn = nullptr;
                throw;
            }
            PQfreemem(row);
            continue;
        }
        if (length == -1)
            break;
        if (length < -1)
            lost(QString::fromUtf8(PQerrorMessage(m_conn)));
        if (!waitFor(POLLIN))
            lost(timeout);
        if (!PQconsumeInput(m_conn))
            lost(QString::fromUtf8(PQerrorMessage(m_conn)));
    }
    PQclear(finishResults());
}

QByteArray PgBackend::literal(const QString& text)
{
    ensureConnected();
    const QByteArray utf8 = text.toUtf8();
    char* escaped = PQescapeLiteral(m_conn, utf8.constData(), size_t(utf8.size()));
    if (!escaped)
        throw DatabaseError(redacted(QString::fromUtf8(PQerrorMessage(m_conn))));
    QByteArray out(escaped);
    PQfreemem(escaped);
    return out;
}

void PgBackend::checkSchema()
{
    struct Required
    {
        const QString& table;
        const char* column;
        // Empty: any text type.
        const char* type;
    };
    const Required required[] = {
        {Statements::kEmployTable, "num", ""},
        {Statements::kEmployTable, "name", ""},
        {Statements::kRecordTable, "num", ""},
        {Statements::kRecordTable, "name", ""},
        {Statements::kRecordTable, "d", "date"},
        {Statements::kRecordTable, "t", "time(0) without time zone"},
        {Statements::kRecordTable, "opdate", "date"},
    };
    for (const QString& table : {Statements::kEmployTable, Statements::kRecordTable}) {
        QHash<QString, QString> types;
        for (const DbColumnInfo& column : tableColumns(table))
            types.insert(column.name, column.declaredType);
        if (types.isEmpty())
            throw DatabaseError(
                QStringLiteral("The server database has no table %1; create it with kqdb create.").arg(table),
                DatabaseError::Trouble::MissingTable);
        for (const Required& r : required) {
            if (r.table != table)
                continue;
            const QString column = QString::fromLatin1(r.column);
            const QString wanted = QString::fromLatin1(r.type);
            const auto found = types.constFind(column);
            const QString need = wanted.isEmpty() ? QStringLiteral("a text type") : wanted;
            if (found == types.constEnd())
                throw DatabaseError(
                    QStringLiteral("Table %1 on the server cannot be used: it has no column %2 "
                                   "(%3).")
                        .arg(table, column, need));
            if (wanted.isEmpty() ? !isTextual(*found) : *found != wanted)
                throw DatabaseError(
                    QStringLiteral("Table %1 on the server cannot be used: column %2 is %3, the "
                                   "terminal needs %4.")
                        .arg(table, column, *found, need));
        }
    }
}

std::unique_ptr<DbCursor> PgBackend::prepare(const SqlStatementPlan& plan, const QString& rowIdName)
{
    if (plan.isBlank())
        throw DatabaseError(QStringLiteral("Command text was not set for the command object."));
    return std::make_unique<PgCursor>(*this, plan.rewritten(rowIdName, u'$').toUtf8(),
                                      plan.occurrences().size());
}

void PgBackend::execute(const QString& sql)
{
    PQclear(roundTrip(sql.toUtf8(), nullptr));
}

std::vector<DbColumnInfo> PgBackend::tableColumns(const QString& table)
{
    const QString key = table.toLower();
    if (auto it = m_columns.constFind(key); it != m_columns.constEnd())
        return *it;
    // Ordinary tables only: a view has no row identity to delete by.
    const PgResult result(
        run("SELECT a.attname, pg_catalog.format_type(a.atttypid, a.atttypmod) "
            "FROM pg_catalog.pg_attribute a JOIN pg_catalog.pg_class c ON c.oid = a.attrelid "
            "WHERE c.oid = pg_catalog.to_regclass($1) AND c.relkind = 'r' AND a.attnum > 0 "
            "AND NOT a.attisdropped ORDER BY a.attnum",
            {table.toUtf8()}));
    std::vector<DbColumnInfo> columns;
    for (int row = 0; row < PQntuples(result.get()); ++row)
        columns.push_back({QString::fromUtf8(PQgetvalue(result.get(), row, 0)),
                           QString::fromUtf8(PQgetvalue(result.get(), row, 1))});
    m_columns.insert(key, columns);
    return columns;
}

QString PgBackend::rowIdName(const std::vector<DbColumnInfo>& columns) const
{
    // ctid is a system column no user column can hide.
    return columns.empty() ? QString() : QStringLiteral("ctid");
}

qint64 PgBackend::deleteRow(const QString& table, const QString& rowIdName, const DbValue& rowId,
                            const QStringList& columns, const std::vector<DbValue>& values)
{
    // The row's physical position names at most one row; an update moves the row and a
    // vacuum may give the position to another, so the row must also still hold every
    // loaded value. Two identical rows are told apart by their positions: one is deleted.
    QString sql = QStringLiteral("DELETE FROM %1 WHERE %2 = $1::tid").arg(table, rowIdName);
    for (qsizetype n = 0; n < columns.size(); ++n)
        sql += QStringLiteral(" AND %1 IS NOT DISTINCT FROM $%2")
                   .arg(DbColumnInfo::quotedName(columns[n]))
                   .arg(n + 2);
    std::vector<std::optional<QByteArray>> parameters{parameterText(rowId)};
    for (const DbValue& value : values)
        parameters.push_back(parameterText(value));
    const PgResult result(run(sql.toUtf8(), parameters));
    return QByteArray(PQcmdTuples(result.get())).toLongLong();
}

void PgBackend::beginWrite(const QString& key)
{
    ensureConnected();
    // Two terminals swiping one employee at once would otherwise both find no record and
    // both insert. A transaction-scoped advisory lock on the employee number, taken before
    // the duplicate test, makes the second wait until the first has committed; READ
    // COMMITTED then lets its duplicate test see the first one's row. Nothing else is
    // locked: the management software writing sgdjb takes no advisory lock and is never
    // refused or made to wait, unlike with LOCK TABLE or SERIALIZABLE (which would also make
    // a terminal fail and retry). The lock ends with the transaction, also when the
    // connection drops. Two numbers with the same hash only wait for each other.
    if (key.isEmpty()) {
        begin({}, {});
        return;
    }
    begin("SELECT pg_catalog.pg_advisory_xact_lock($1::integer, pg_catalog.hashtext($2))",
          {QByteArray::number(kSwipeLockClass), key.toUtf8()});
}

void PgBackend::beginListWrite()
{
    ensureConnected();
    // One lock of its own class for every writer of the whole list; swipes and deletes of
    // single rows do not take it and are not held up.
    begin("SELECT pg_catalog.pg_advisory_xact_lock($1::integer, $2::integer)",
          {QByteArray::number(kEmployeeListLockClass), "0"});
}

void PgBackend::begin(const QByteArray& lockSql, const std::vector<std::optional<QByteArray>>& lockParameters)
{
    // One round trip: the statements go together in a pipeline, the lock prepared once
    // per session.
    std::vector<Statement> statements;
    // A bound changed since the session began (the window's is shorter than a tool's).
    if (m_conn && m_sessionLockTimeoutMs != lockTimeoutMs())
        statements.push_back({"SET lock_timeout = " + QByteArray::number(lockTimeoutMs()), {}});
    statements.push_back({"BEGIN ISOLATION LEVEL READ COMMITTED", {}});
    if (!lockSql.isEmpty())
        statements.push_back({lockSql, lockParameters});
    m_inTransaction = true;
    try {
        pipelineResults(statements);
        m_sessionLockTimeoutMs = lockTimeoutMs();
    } catch (const ServerUnreachable&) {
        // The caller gets no transaction to roll back: the next operation may reconnect,
        // or, after a lock wait the server ended, go on on this session.
        if (m_conn && m_inTransaction) {
            try {
                rollback();
            } catch (const Exception&) {
            }
        }
        m_inTransaction = false;
        m_transactionLost = false;
        throw;
    } catch (const DatabaseError&) {
        // The caller gets no transaction to roll back.
        try {
            rollback();
        } catch (const DatabaseError&) {
        }
        throw;
    }
}

void PgBackend::commit()
{
    PQclear(roundTrip("COMMIT", nullptr));
    m_inTransaction = false;
}

void PgBackend::rollback()
{
    m_transactionLost = false;
    const bool open = m_inTransaction;
    m_inTransaction = false;
    if (open && m_conn)
        PQclear(roundTrip("ROLLBACK", nullptr));
}

std::optional<QDateTime> PgBackend::serverClock()
{
    const Result result(roundTrip("SELECT (EXTRACT(EPOCH FROM pg_catalog.now()) * 1000)::bigint, "
                                  "pg_catalog.current_setting('TimeZone'), "
                                  "EXTRACT(TIMEZONE FROM pg_catalog.now())::integer",
                                  nullptr));
    if (PQntuples(result.get()) != 1)
        return std::nullopt;
    bool ok = false;
    const qint64 ms = QByteArray(PQgetvalue(result.get(), 0, 0)).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    // The zone's name where Qt knows it (for its name in messages), else its offset now.
    QTimeZone zone(QByteArray(PQgetvalue(result.get(), 0, 1)));
    if (!zone.isValid())
        zone = QTimeZone(QByteArray(PQgetvalue(result.get(), 0, 2)).toInt());
    return QDateTime::fromMSecsSinceEpoch(ms, zone);
}

bool PgBackend::hasDuplicateTestIndex()
{
    const PgResult result(
        run("SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_index i "
            "JOIN pg_catalog.pg_class ic ON ic.oid = i.indexrelid "
            "JOIN pg_catalog.pg_am am ON am.oid = ic.relam AND am.amname = 'btree' "
            "JOIN pg_catalog.pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0] "
            "WHERE i.indrelid = pg_catalog.to_regclass($1) AND a.attname = 'num' "
            "AND i.indisvalid AND i.indpred IS NULL)",
            {Statements::kRecordTable.toUtf8()}));
    return PQntuples(result.get()) == 1 && PQgetvalue(result.get(), 0, 0)[0] == 't';
}

DatabaseError::Trouble PgBackend::troubleOf(const QByteArray& sqlState)
{
    // undefined_table: a database without the attendance tables.
    return sqlState == "42P01" ? DatabaseError::Trouble::MissingTable : DatabaseError::Trouble::Unknown;
}

bool PgBackend::isLastingRefusal(const QByteArray& sqlState)
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
