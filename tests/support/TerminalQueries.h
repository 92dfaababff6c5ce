#pragma once

#include "query/AdoConnection.h"
#include "query/AdoQuery.h"

#include <QString>

namespace TestSupport {

// A terminal's connection and its two queries, as the window holds them: the employee list
// and the record query a swipe uses. Nothing is opened until load().
struct TerminalQueries
{
    explicit TerminalQueries(const QString& connectionString);
    // Loads the list afresh, as the window's table load does.
    void load(const QString& sql = QStringLiteral("SELECT * FROM employ"));

    AdoConnection connection;
    AdoQuery employees{QStringLiteral("YgQry")};
    AdoQuery records{QStringLiteral("RecordQry")};
};

} // namespace TestSupport
