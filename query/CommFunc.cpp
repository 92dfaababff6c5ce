#include "query/CommFunc.h"

#include "log/ErrMsg.h"
#include "platform/Blanks.h"
#include "platform/QueryStateError.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/ConnectionString.h"
#include "query/DatabaseTarget.h"

QString CommFunc::MakeJetConnStr(const QString& path)
{
    return ConnectionString::forFile(path);
}

QString CommFunc::MakeServerConnStr(const QString& conninfo)
{
    return ConnectionString::forServer(conninfo);
}

bool CommFunc::OpenDbConnection(AdoConnection* connection, const QString& filePath)
{
    return OpenDbConnection(connection, DatabaseTarget::file(filePath));
}

bool CommFunc::OpenDbConnection(AdoConnection* connection, const DatabaseTarget& target)
{
    if (!connection)
        return false;
    bool result = target.isValid();
    try {
        connection->setConnected(false);
        connection->setConnectionString(target.connectionString());
        connection->setCursorLocation(AdoConnection::CursorLocation::Client);
        connection->setLoginPrompt(false);
        connection->setMode(AdoConnection::Mode::ReadWrite);
    } catch (const std::exception&) {
        result = false;
    }
    return result;
}

int CommFunc::OpenTableQuery(AdoQuery* query, const QString& tableName, const QString& ordering,
                             const QString& filter, Exception::Trouble* failure)
{
    QString statement = QStringLiteral("SELECT * FROM ") + tableName;
    if (!Blanks::trimmed(filter).isEmpty())
        statement += QStringLiteral(" WHERE ") + filter;
    if (!Blanks::trimmed(ordering).isEmpty())
        statement += QStringLiteral(" ORDER BY ") + ordering;

    try {
        if (!query)
            throw QueryStateError(QStringLiteral("No query to open"));
        LoadStatement(*query, statement);
        return query->recordCount();
    } catch (const Exception& error) {
        // Nothing here is guarded: an I/O error of the log leaves at once, with the query
        // as the failure left it.
        if (failure)
            *failure = error.trouble();
        ErrMsg::LogFailure(statement, error);
        if (query)
            query->close();
        return -1;
    }
}

void CommFunc::LoadStatement(AdoQuery& query, const QString& statement)
{
    query.close();
    query.sqlClear();
    query.sqlAdd(statement);
    query.open();
    query.first();
}
