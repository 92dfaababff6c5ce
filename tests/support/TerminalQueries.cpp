#include "support/TerminalQueries.h"

#include "attendance/ServerSchemaCheck.h"
#include "query/CommFunc.h"

namespace TestSupport {

TerminalQueries::TerminalQueries(const QString& connectionString)
{
    connection.setConnectionString(connectionString);
    // As the window's attendance terminal installs it.
    connection.setOpenCheck(ServerSchemaCheck::run);
    employees.setConnection(&connection);
    records.setConnection(&connection);
}

void TerminalQueries::load(const QString& sql)
{
    CommFunc::LoadStatement(employees, sql);
}

} // namespace TestSupport
