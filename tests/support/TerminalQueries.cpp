#include "support/TerminalQueries.h"

namespace TestSupport {

TerminalQueries::TerminalQueries(const QString& connectionString)
{
    connection.setConnectionString(connectionString);
    employees.setConnection(&connection);
    records.setConnection(&connection);
}

void TerminalQueries::load(const QString& sql)
{
    employees.close();
    employees.sqlClear();
    employees.sqlAdd(sql);
    employees.open();
}

} // namespace TestSupport
