#include "attendance/ServerSchemaCheck.h"

#include "attendance/ServerIdentity.h"

#include "platform/DatabaseError.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"
#include "query/Statements.h"

#include <QHash>

namespace {

bool isTextual(const QString& type)
{
    return type.startsWith(u"character varying") || type.startsWith(u"character(") || type == u"character" ||
           type == u"text";
}

} // namespace

void ServerSchemaCheck::run(DbBackend& backend)
{
    ServerFeatures* server = backend.serverFeatures();
    if (!server)
        return;
    struct Required
    {
        const QString& table;
        const char* column;
        // Empty: any text type.
        const char* type;
    };
    const Required required[] = {
        {Statements::kEmployTable, "num", ""},
        {Statements::kEmployTable, "name", ""},
        {Statements::kRecordTable, "num", ""},
        {Statements::kRecordTable, "name", ""},
        {Statements::kRecordTable, "d", "date"},
        {Statements::kRecordTable, "t", "time(0) without time zone"},
        {Statements::kRecordTable, "opdate", "date"},
    };
    const QStringList tables{Statements::kEmployTable, Statements::kRecordTable};
    // One look at the catalog for both tables.
    const std::vector<std::vector<DbColumnInfo>> columns = server->columnsOfTables(tables);
    for (qsizetype t = 0; t < tables.size(); ++t) {
        const QString& table = tables.at(t);
        QHash<QString, QString> types;
        for (const DbColumnInfo& column : columns[size_t(t)])
            types.insert(column.name, column.declaredType);
        if (types.isEmpty())
            throw DatabaseError(
                QStringLiteral("The server database has no table %1; create it with kqdb create.").arg(table),
                DatabaseError::Trouble::MissingTable);
        for (const Required& r : required) {
            if (r.table != table)
                continue;
            const QString column = QString::fromLatin1(r.column);
            const QString wanted = QString::fromLatin1(r.type);
            const auto found = types.constFind(column);
            const QString need = wanted.isEmpty() ? QStringLiteral("a text type") : wanted;
            if (found == types.constEnd())
                throw DatabaseError(
                    QStringLiteral("Table %1 on the server cannot be used: it has no column %2 "
                                   "(%3).")
                        .arg(table, column, need));
            if (wanted.isEmpty() ? !isTextual(*found) : *found != wanted)
                throw DatabaseError(
                    QStringLiteral("Table %1 on the server cannot be used: column %2 is %3, the "
                                   "terminal needs %4.")
                        .arg(table, column, *found, need));
        }
    }
    ServerIdentity::learnGrants(*server);
}
