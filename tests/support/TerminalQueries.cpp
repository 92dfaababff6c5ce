#include "support/TerminalQueries.h"

#include "query/CommFunc.h"

namespace TestSupport {

TerminalQueries::TerminalQueries(const QString& connectionString)
{
    connection.setConnectionString(connectionString);
    employees.setConnection(&connection);
    records.setConnection(&connection);
}

void TerminalQueries::load(const QString& sql)
{
    CommFunc::LoadStatement(employees, sql);
}

} // namespace TestSupport
