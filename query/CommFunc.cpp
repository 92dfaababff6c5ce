#include "query/CommFunc.h"

#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/DatabaseTarget.h"
#include "log/ErrMsg.h"
#include "log/ErrMsgForm.h"
#include "platform/AppPaths.h"
#include "platform/Blanks.h"
#include "platform/QueryStateError.h"
#include "platform/SettingsStore.h"

const QString CommFunc::kAppKeyPath =
    QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Kelvaro");
const QString CommFunc::kMdbValueName = QStringLiteral("mdb");
const QString CommFunc::kSqliteFileProvider = QStringLiteral("Microsoft.Jet.OLEDB.4.0");

namespace {

using Blanks::isBlank;

bool needsQuoting(const QString& path)
{
    return path.contains(u';') || path.contains(u'"') ||
           (!path.isEmpty() && (isBlank(path.front()) || isBlank(path.back())));
}

} // namespace

QString CommFunc::TrimBlanks(const QString& text)
{
    return Blanks::trimmed(text);
}

QString CommFunc::ReadAppRegString(const QString& valueName)
{
    SettingsStore store;
    QString result;
    if (store.openKey(kAppKeyPath, true))
        result = TrimBlanks(store.readString(valueName));
    store.closeKey();
    return result;
}

QString CommFunc::GetAppDir()
{
    return AppPaths::executableDir();
}

QString CommFunc::GetMdbDir()
{
    const QString folder = ReadAppRegString(kMdbValueName);
    if (!folder.isEmpty())
        return folder;
    return GetAppDir() + QStringLiteral("mdb");
}

QString CommFunc::MakeJetConnStr(const QString& path)
{
    QString source = path;
    if (needsQuoting(path))
        source = u'"' + QString(path).replace(u'"', QStringLiteral("\"\"")) + u'"';
    return QStringLiteral(
               "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Mode=Read|Write;Persist Security Info=False")
        .arg(source);
}

QString CommFunc::MakeServerConnStr(const QString& conninfo)
{
    const QString source = u'"' + QString(conninfo).replace(u'"', QStringLiteral("\"\"")) + u'"';
    return QStringLiteral("Provider=%1;Data Source=%2").arg(kPostgresProvider, source);
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
                             const QString& filter, QString* failure)
{
    QString statement = QStringLiteral("SELECT * FROM ") + tableName;
    if (!TrimBlanks(filter).isEmpty())
        statement += QStringLiteral(" WHERE ") + filter;
    if (!TrimBlanks(ordering).isEmpty())
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
            *failure = error.message();
        LogFailure(statement, error);
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

void CommFunc::LogFailure(const QString& statement, const Exception& error)
{
    ErrMsg::AppendLogLine(ErrMsgForm::instance().logFileName(), ErrMsg::FormatErrorLine(statement, error));
}
