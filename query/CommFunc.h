#pragma once

#include <QString>

class AdoConnection;
class AdoQuery;
class DatabaseTarget;
class Exception;

// Database utilities of the terminal window: where the database folder is, how the
// connection is prepared, and loading a whole table into a query with failures logged.
class CommFunc
{
public:
    // Trimmed string value of that name in the application's key of the current user's
    // settings, the key being created when missing; the empty text on any failure.
    static QString ReadAppRegString(const QString& valueName);
    // Folder of the running executable, ending in "/".
    static QString GetAppDir();
    // The "mdb" value, or the executable's folder followed by "mdb" when that is empty.
    static QString GetMdbDir();
    // Jet connection string for a database file. The Data Source value is quoted only
    // when the path could not stand bare in it (";", '"', blanks at either end).
    static QString MakeJetConnStr(const QString& path);
    // Connection string for a PostgreSQL server: the libpq connection text (a URI or
    // keyword/value pairs) as the Data Source, always quoted, since it holds '=' and blanks.
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
    // failure's message is also handed to `failure` when given, for the window to say why.
    static int OpenTableQuery(AdoQuery* query, const QString& tableName, const QString& ordering,
                              const QString& filter, QString* failure = nullptr);
    // The steps of a table load: the query closed, given the statement, opened and on its
    // first row. Throws what opening throws.
    static void LoadStatement(AdoQuery& query, const QString& statement);
    // Appends the error log's line for a failed statement to the log file.
    static void LogFailure(const QString& statement, const Exception& error);

    // Removes leading and trailing blanks and control characters (code 32 and below).
    static QString TrimBlanks(const QString& text);

    static const QString kAppKeyPath;
    // Provider names a connection string may give, named for the back end each selects: the
    // Jet provider's name (which the connection strings of the attendance software carry)
    // opens a database file with the SQLite back end; ours opens a PostgreSQL server.
    static const QString kSqliteFileProvider;
    static inline const QString kPostgresProvider = QStringLiteral("Tavelo.PostgreSQL");
    static const QString kMdbValueName;
};
