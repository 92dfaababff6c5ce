#include "postgres/PgCursor.h"

#include "platform/DatabaseError.h"
#include "postgres/PgBackend.h"
#include "postgres/PgDateStyle.h"

#include <libpq-fe.h>

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

} // namespace

PgCursor::PgCursor(PgBackend& backend, QByteArray sql, size_t parameterCount)
    : m_backend(backend), m_sql(std::move(sql)), m_parameters(parameterCount)
{
}

PgCursor::~PgCursor()
{
    if (!m_started || m_done)
        return;
    try {
        m_backend.finishRows(m_statement);
    } catch (const Exception&) {
        // The connection was dropped reading them off; the next statement connects again.
    }
}

std::optional<QByteArray> PgCursor::parameterText(const DbValue& value)
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

void PgCursor::bindText(int position, const QString& value)
{
    at(position) = value.toUtf8();
}

void PgCursor::bindNull(int position)
{
    at(position) = std::nullopt;
}

void PgCursor::bindValue(int position, const DbValue& value)
{
    at(position) = parameterText(value);
}

bool PgCursor::step()
{
    if (m_done)
        return false;
    try {
        if (!m_started) {
            m_started = true;
            m_statement = m_backend.startRows(m_sql, m_parameters, &m_dateStyle);
        }
        m_result = m_backend.nextRow(m_statement);
    } catch (...) {
        m_done = true;
        throw;
    }
    m_done = m_result.status() != PGRES_SINGLE_TUPLE;
    return !m_done;
}

int PgCursor::columnCount() const
{
    return m_result ? m_result.columns() : -1;
}

QString PgCursor::columnName(int column) const
{
    return m_result.columnName(column);
}

QString PgCursor::columnDeclaredType(int column) const
{
    return declaredType(m_result.columnType(column), m_result.columnModifier(column));
}

DbCursor::Type PgCursor::columnType(int column) const
{
    if (m_result.isNull(row(), column))
        return Type::Null;
    switch (m_result.columnType(column)) {
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

qint64 PgCursor::columnInt64(int column) const
{
    return raw(column).toLongLong();
}

double PgCursor::columnDouble(int column) const
{
    return raw(column).toDouble();
}

QString PgCursor::columnText(int column) const
{
    const unsigned type = m_result.columnType(column);
    if (type == kDate || type == kTimestamp)
        return QString::fromUtf8(PgDateStyle::toIso(raw(column), m_dateStyle, type == kTimestamp));
    return QString::fromUtf8(m_result.value(row(), column), m_result.length(row(), column));
}

QByteArray PgCursor::columnBlob(int column) const
{
    size_t length = 0;
    unsigned char* bytes =
        PQunescapeBytea(reinterpret_cast<const unsigned char*>(m_result.value(row(), column)), &length);
    QByteArray blob(reinterpret_cast<const char*>(bytes), qsizetype(length));
    PQfreemem(bytes);
    return blob;
}

qint64 PgCursor::rowsChanged() const
{
    if (!m_result || m_result.status() != PGRES_COMMAND_OK)
        return 0;
    return m_result.rowsChanged();
}

bool PgCursor::isReadOnly() const
{
    return m_result && (m_result.status() == PGRES_TUPLES_OK || m_result.status() == PGRES_SINGLE_TUPLE);
}

std::optional<QByteArray>& PgCursor::at(int position)
{
    if (position < 1 || size_t(position) > m_parameters.size())
        throw DatabaseError(QStringLiteral("Parameter %1 is out of range.").arg(position));
    return m_parameters[size_t(position - 1)];
}

QByteArray PgCursor::raw(int column) const
{
    return m_result.bytes(row(), column);
}
