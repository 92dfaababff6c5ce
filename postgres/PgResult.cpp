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
        m_result = other.release();
    }
    return *this;
}

pg_result* PgResult::release()
{
    pg_result* result = m_result;
    m_result = nullptr;
    return result;
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
