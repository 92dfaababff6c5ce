#include "postgres/PgResult.h"

#include <libpq-fe.h>

PgResult::~PgResult()
{
    PQclear(m_result);
}

PgResult& PgResult::operator=(PgResult&& other) noexcept
{
    if (this != &other) {
        PQclear(m_result);
        m_result = other.m_result;
        other.m_result = nullptr;
    }
    return *this;
}

int PgResult::status() const
{
    return PQresultStatus(m_result);
}

bool PgResult::isError() const
{
    const ExecStatusType s = PQresultStatus(m_result);
    return s == PGRES_FATAL_ERROR || s == PGRES_BAD_RESPONSE;
}

QString PgResult::errorMessage() const
{
    return QString::fromUtf8(PQresultErrorMessage(m_result));
}

QByteArray PgResult::sqlState() const
{
    return QByteArray(PQresultErrorField(m_result, PG_DIAG_SQLSTATE));
}

qint64 PgResult::rowsChanged() const
{
    return m_result ? QByteArray(PQcmdTuples(m_result)).toLongLong() : 0;
}

int PgResult::rows() const
{
    return PQntuples(m_result);
}

int PgResult::columns() const
{
    return PQnfields(m_result);
}

const char* PgResult::value(int row, int column) const
{
    return PQgetvalue(m_result, row, column);
}

int PgResult::length(int row, int column) const
{
    return PQgetlength(m_result, row, column);
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(m_result, row, column) != 0;
}

QString PgResult::columnName(int column) const
{
    return QString::fromUtf8(PQfname(m_result, column));
}

unsigned PgResult::columnType(int column) const
{
    return PQftype(m_result, column);
}

int PgResult::columnModifier(int column) const
{
    return PQfmod(m_result, column);
}
