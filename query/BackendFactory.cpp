#include "query/BackendFactory.h"

#include "postgres/PgBackend.h"
#include "postgres/PgConninfo.h"
#include "sqlite/SqliteBackend.h"
#include "sqlite/SqliteFileCreation.h"

std::unique_ptr<DbBackend> BackendFactory::openFile(const QString& path, bool readOnly)
{
    return std::make_unique<SqliteBackend>(path, readOnly);
}

std::unique_ptr<DbBackend> BackendFactory::openServer(const QString& conninfo, int networkTimeoutMs)
{
    return std::make_unique<PgBackend>(conninfo, networkTimeoutMs);
}

bool BackendFactory::createFile(const QString& path, const QStringList& statements,
                                const QByteArray& insertSql, qsizetype rowCount,
                                const std::function<QList<QByteArray>(qsizetype)>& row,
                                const std::function<void(qint64)>& progress, QString* error)
{
    return SqliteFileCreation::create(path, statements, insertSql, rowCount, row, progress, error);
}

void BackendFactory::createOnServer(const QString& conninfo, const QStringList& statements,
                                    const QByteArray& insertSql,
                                    const std::vector<std::vector<std::optional<QByteArray>>>& parameterSets)
{
    PgBackend db(conninfo, 0);
    db.execute(QStringLiteral("BEGIN"));
    for (const QString& statement : statements)
        db.execute(statement);
    for (const std::vector<std::optional<QByteArray>>& parameters : parameterSets)
        db.execute(insertSql, parameters);
    db.execute(QStringLiteral("COMMIT"));
}

std::optional<std::vector<ServerTextOption>> BackendFactory::readServerText(const QByteArray& text)
{
    const std::optional<std::vector<PgConninfo::Option>> options = PgConninfo::parse(text);
    if (!options)
        return std::nullopt;
    std::vector<ServerTextOption> read;
    read.reserve(options->size());
    for (const PgConninfo::Option& option : *options)
        read.push_back({option.keyword, option.value, option.secret});
    return read;
}
