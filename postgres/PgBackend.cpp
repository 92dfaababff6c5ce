#include "postgres/PgBackend.h"

#include "platform/DatabaseError.h"
#include "platform/ServerUnreachable.h"
#include "postgres/PgCursor.h"
#include "query/SqlStatementPlan.h"
#include "query/Statements.h"

#include <QTimeZone>

#include <libpq-fe.h>

namespace {

// First key of the two-key advisory locks the terminals take, so that they can never meet
// a lock another application takes with a single 64-bit key or with another class.
constexpr int kSwipeLockClass = PgBackend::kSwipeLockClass;
constexpr int kEmployeeListLockClass = 0x54617632; // "Tav2"

const QByteArray kBegin = "BEGIN ISOLATION LEVEL READ COMMITTED";

// The columns of ordinary tables (a view has no row identity to delete by), with the
// position of the table in the array given as $1.
const QByteArray kColumnsOfTables =
    "SELECT t.i, a.attname, pg_catalog.format_type(a.atttypid, a.atttypmod) "
    "FROM pg_catalog.unnest($1::text[]) WITH ORDINALITY AS t(name, i) "
    "JOIN pg_catalog.pg_class c ON c.oid = pg_catalog.to_regclass(t.name) AND c.relkind = 'r' "
    "JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
    "ORDER BY t.i, a.attnum";

QByteArray arrayLiteral(const QStringList& texts)
{
    QByteArray out = "{";
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            out += ',';
        QByteArray value = texts.at(i).toUtf8();
        value.replace('\\', "\\\\").replace('"', "\\\"");
        out += '"' + value + '"';
    }
    return out + '}';
}

ServerRows copied(const PgResult& result)
{
    std::vector<std::vector<QByteArray>> rows(size_t(result.rows()));
    for (int row = 0; row < result.rows(); ++row)
        for (int column = 0; column < result.columns(); ++column)
            rows[size_t(row)].emplace_back(result.value(row, column));
    return ServerRows(std::move(rows));
}

} // namespace

PgBackend::PgBackend(const QString& conninfo, int networkTimeoutMs) : m_connection(conninfo, networkTimeoutMs)
{
    ensureConnected();
}

PgBackend::~PgBackend() = default;

void PgBackend::ensureConnected()
{
    // Rows of an earlier statement still coming are read off first: the connection takes
    // one statement at a time.
    m_exchange.finishRows();
    m_connection.checkUsable();
    m_connection.dropIfClosedByPeer();
    if (!m_connection.isOpen()) {
        m_connection.open();
        // Another session may see other tables under the same names (a failover, a
        // restore): what this one read of the catalog is read again.
        m_columns.clear();
    }
}

PgResult PgBackend::roundTrip(const QByteArray& sql, const std::vector<std::optional<QByteArray>>* parameters)
{
    ensureConnected();
    return m_exchange.run(sql, parameters);
}

PgResult PgBackend::run(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters)
{
    return roundTrip(sql, &parameters);
}

void PgBackend::execute(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters)
{
    roundTrip(sql, &parameters);
}

void PgBackend::execute(const QString& sql)
{
    roundTrip(sql.toUtf8(), nullptr);
}

QByteArray PgBackend::dateStyle() const
{
    const char* style = m_connection.isOpen() ? PQparameterStatus(m_connection.get(), "DateStyle") : nullptr;
    return style ? QByteArray(style) : QByteArray("ISO, MDY");
}

std::unique_ptr<DbCursor> PgBackend::prepare(const SqlStatementPlan& plan, const QString& rowIdName)
{
    if (plan.isBlank())
        throw DatabaseError(QStringLiteral("Command text was not set for the command object."));
    return std::make_unique<PgCursor>(*this, plan.rewritten(rowIdName, u'$').toUtf8(),
                                      plan.occurrences().size());
}

quint64 PgBackend::startRows(const QByteArray& sql, const std::vector<std::optional<QByteArray>>& parameters,
                             QByteArray* style)
{
    ensureConnected();
    const quint64 statement = m_exchange.startRows(sql, parameters);
    *style = dateStyle();
    return statement;
}

void PgBackend::finishRows(quint64 statement)
{
    if (m_exchange.isStreaming(statement))
        m_exchange.finishRows();
}

std::vector<std::vector<DbColumnInfo>> PgBackend::columnsOfTables(const QStringList& tables)
{
    std::vector<std::vector<DbColumnInfo>> found(size_t(tables.size()));
    QStringList missing;
    for (qsizetype i = 0; i < tables.size(); ++i) {
        if (auto it = m_columns.constFind(tables.at(i).toLower()); it != m_columns.constEnd())
            found[size_t(i)] = *it;
        else
            missing.append(tables.at(i));
    }
    if (missing.isEmpty())
        return found;
    // One statement for every table not read yet.
    const PgResult result = run(kColumnsOfTables, {arrayLiteral(missing)});
    std::vector<std::vector<DbColumnInfo>> read(size_t(missing.size()));
    for (int row = 0; row < result.rows(); ++row)
        read[size_t(QByteArray(result.value(row, 0)).toLongLong() - 1)].push_back(
            {QString::fromUtf8(result.value(row, 1)), QString::fromUtf8(result.value(row, 2))});
    for (qsizetype m = 0; m < missing.size(); ++m)
        m_columns.insert(missing.at(m).toLower(), read[size_t(m)]);
    for (qsizetype i = 0; i < tables.size(); ++i)
        found[size_t(i)] = m_columns.value(tables.at(i).toLower());
    return found;
}

std::vector<DbColumnInfo> PgBackend::tableColumns(const QString& table)
{
    return columnsOfTables({table}).front();
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
    std::vector<std::optional<QByteArray>> parameters{PgCursor::parameterText(rowId)};
    for (const DbValue& value : values)
        parameters.push_back(PgCursor::parameterText(value));
    const Statement statement{sql.toUtf8(), parameters};
    // A row another client holds locked is waited for no longer than a swipe's lock.
    if (!m_connection.inTransaction())
        return inTransaction({statement}).front().rowsChanged();
    return run(statement.sql, statement.parameters).rowsChanged();
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

ServerFeatures::Statement PgBackend::lockTimeoutStatement() const
{
    const int timeoutMs = m_connection.timeoutMs();
    const int lockMs =
        timeoutMs <= 0 ? 0 : qMax(timeoutMs - qMax(100, timeoutMs / 5), qMax(1, timeoutMs / 2));
    return {"SET LOCAL lock_timeout = " + QByteArray::number(lockMs), {}};
}

void PgBackend::abandonTransaction()
{
    // A lost connection has rolled back on the server already; after a lock wait the
    // server ended, or a refusal, the session is still there and its transaction open.
    if (m_connection.isOpen() && m_connection.inTransaction()) {
        try {
            rollback();
        } catch (const Exception&) {
        }
    }
    m_connection.setInTransaction(false);
    m_connection.forgetLostTransaction();
}

void PgBackend::begin(const QByteArray& lockSql, const std::vector<std::optional<QByteArray>>& lockParameters)
{
    std::vector<Statement> statements{{kBegin, {}}, lockTimeoutStatement()};
    if (!lockSql.isEmpty())
        statements.push_back({lockSql, lockParameters});
    m_connection.setInTransaction(true);
    try {
        m_exchange.pipeline(statements);
    } catch (const Exception&) {
        // The caller gets no transaction to roll back: the next operation may reconnect,
        // or go on on this session.
        abandonTransaction();
        throw;
    }
}

std::vector<PgResult> PgBackend::inTransaction(const std::vector<Statement>& statements)
{
    ensureConnected();
    std::vector<Statement> all{{kBegin, {}}, lockTimeoutStatement()};
    all.insert(all.end(), statements.begin(), statements.end());
    all.push_back({"COMMIT", {}});
    m_connection.setInTransaction(true);
    std::vector<PgResult> results;
    try {
        results = m_exchange.pipeline(all);
    } catch (const Exception&) {
        abandonTransaction();
        throw;
    }
    m_connection.setInTransaction(false);
    if (results.size() != all.size())
        throw DatabaseError(QStringLiteral("The database server answered %1 of %2 statements.")
                                .arg(results.size())
                                .arg(all.size()));
    std::vector<PgResult> own;
    own.reserve(statements.size());
    for (size_t i = 2; i + 1 < results.size(); ++i)
        own.push_back(std::move(results[i]));
    return own;
}

std::vector<ServerRows> PgBackend::transaction(const std::vector<Statement>& statements)
{
    std::vector<ServerRows> rows;
    for (const PgResult& result : inTransaction(statements))
        rows.push_back(copied(result));
    return rows;
}

ServerFeatures::Committed PgBackend::transactions(const std::vector<std::vector<Statement>>& transactions)
{
    ensureConnected();
    // One pipeline with one synchronisation at its end: a failure makes the server skip
    // everything behind it, the other transactions included, rather than run them out of
    // their order.
    std::vector<Statement> all;
    std::vector<size_t> commitAt;
    const Statement lockTimeout = lockTimeoutStatement();
    for (const std::vector<Statement>& statements : transactions) {
        all.push_back({kBegin, {}});
        all.push_back(lockTimeout);
        all.insert(all.end(), statements.begin(), statements.end());
        commitAt.push_back(all.size());
        all.push_back({"COMMIT", {}});
    }
    Committed committed;
    if (all.empty())
        return committed;
    m_connection.setInTransaction(true);
    std::vector<PgResult> results;
    try {
        results = m_exchange.pipelineUntilFailure(all, committed.failure);
    } catch (const Exception&) {
        // Nothing was answered (the sending failed).
        committed.failure = std::current_exception();
    }
    if (committed.failure)
        abandonTransaction();
    else if (results.size() != all.size())
        committed.failure = std::make_exception_ptr(
            DatabaseError(QStringLiteral("The database server answered %1 of %2 statements.")
                              .arg(results.size())
                              .arg(all.size())));
    m_connection.setInTransaction(false);
    size_t first = 0;
    for (size_t t = 0; t < transactions.size() && commitAt[t] < results.size(); ++t) {
        std::vector<ServerRows> own;
        own.reserve(transactions[t].size());
        for (size_t i = first + 2; i < commitAt[t]; ++i)
            own.push_back(copied(results[i]));
        committed.results.push_back(std::move(own));
        first = commitAt[t] + 1;
    }
    return committed;
}

void PgBackend::commit()
{
    roundTrip("COMMIT", nullptr);
    m_connection.setInTransaction(false);
}

void PgBackend::rollback()
{
    m_connection.forgetLostTransaction();
    const bool open = m_connection.inTransaction();
    m_connection.setInTransaction(false);
    if (open && m_connection.isOpen())
        roundTrip("ROLLBACK", nullptr);
}

std::optional<QDateTime> PgBackend::serverClock()
{
    const PgResult result = roundTrip("SELECT (EXTRACT(EPOCH FROM pg_catalog.now()) * 1000)::bigint, "
                                      "pg_catalog.current_setting('TimeZone'), "
                                      "EXTRACT(TIMEZONE FROM pg_catalog.now())::integer",
                                      nullptr);
    if (result.rows() != 1)
        return std::nullopt;
    bool ok = false;
    const qint64 ms = QByteArray(result.value(0, 0)).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    // The zone's name where Qt knows it (for its name in messages), else its offset now.
    QTimeZone zone(QByteArray(result.value(0, 1)));
    if (!zone.isValid())
        zone = QTimeZone(QByteArray(result.value(0, 2)).toInt());
    return QDateTime::fromMSecsSinceEpoch(ms, zone);
}

bool PgBackend::hasDuplicateTestIndex()
{
    const PgResult result =
        run("SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_index i "
            "JOIN pg_catalog.pg_class ic ON ic.oid = i.indexrelid "
            "JOIN pg_catalog.pg_am am ON am.oid = ic.relam AND am.amname = 'btree' "
            "JOIN pg_catalog.pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0] "
            "WHERE i.indrelid = pg_catalog.to_regclass($1) AND a.attname = 'num' "
            "AND i.indisvalid AND i.indpred IS NULL)",
            {Statements::kRecordTable.toUtf8()});
    return result.rows() == 1 && result.value(0, 0)[0] == 't';
}

std::vector<ServerRows> PgBackend::pipeline(const std::vector<Statement>& statements)
{
    ensureConnected();
    std::vector<ServerRows> rows;
    for (const PgResult& result : m_exchange.pipeline(statements))
        rows.push_back(copied(result));
    return rows;
}

qint64 PgBackend::copyIn(const QByteArray& sql, const QByteArray& data)
{
    ensureConnected();
    return m_copy.in(sql, data);
}

void PgBackend::copyOut(const QByteArray& sql, const std::function<void(QByteArrayView row)>& visit)
{
    ensureConnected();
    m_copy.out(sql, visit);
}

QByteArray PgBackend::literal(const QString& text)
{
    ensureConnected();
    const QByteArray utf8 = text.toUtf8();
    char* escaped = PQescapeLiteral(m_connection.get(), utf8.constData(), size_t(utf8.size()));
    if (!escaped)
        throw DatabaseError(m_connection.redacted(QString::fromUtf8(PQerrorMessage(m_connection.get()))));
    QByteArray out(escaped);
    PQfreemem(escaped);
    return out;
}
