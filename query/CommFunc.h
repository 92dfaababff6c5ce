#pragma once

#include "platform/Exception.h"

#include <QString>

class AdoQuery;

// The table query: a whole table loaded into a query, a failure written to the error log.
class CommFunc
{
public:
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
