#pragma once

#include "platform/Exception.h"

#include <QString>

class AdoConnection;
class AdoQuery;
class DatabaseTarget;

// How the terminal's connection is prepared (its connection string and settings) and how a
// whole table is loaded into a query with failures logged.
class CommFunc
{
public:
    // Jet connection string for a database file (ConnectionString::forFile).
    static QString MakeJetConnStr(const QString& path);
    // Connection string for a PostgreSQL server (ConnectionString::forServer).
    static QString MakeServerConnStr(const QString& conninfo);
    // Applies the connection settings without opening it; false when there is no
    // connection or a setting fails.
    static bool OpenDbConnection(AdoConnection* connection, const QString& filePath);
    // The same for any target: a file or a server. An unusable server text gives false
    // and leaves the connection with no connection string.
    static bool OpenDbConnection(AdoConnection* connection, const DatabaseTarget& target);
    // Loads "SELECT * FROM table [WHERE filter] [ORDER BY ordering]" into the query and
    // returns its row count; after a failure logs one line, closes the query and returns
    // -1. Errors outside Exception, and the log's own FileError, pass through. The
    // failure's kind is also handed to `failure` when given, for the window to say why.
    static int OpenTableQuery(AdoQuery* query, const QString& tableName, const QString& ordering,
                              const QString& filter, Exception::Trouble* failure = nullptr);
    // The steps of a table load: the query closed, given the statement, opened and on its
    // first row. Throws what opening throws.
    static void LoadStatement(AdoQuery& query, const QString& statement);

};
