#pragma once

#include "query/DbBackend.h"
#include "query/ServerTextOption.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The one place above the back ends that knows them by name: it opens a connection of the
// right back end and creates new databases, so that everything else holds a DbBackend.
class BackendFactory
{
public:
    // A SQLite file (the file back end).
    static std::unique_ptr<DbBackend> openFile(const QString& path, bool readOnly);
    // A PostgreSQL server named by a libpq connection text.
    static std::unique_ptr<DbBackend> openServer(const QString& conninfo, int networkTimeoutMs);

    // A new database file: see SqliteFileCreation::create.
    static bool createFile(const QString& path, const QStringList& statements, const QByteArray& insertSql,
                           qsizetype rowCount, const std::function<QList<QByteArray>(qsizetype)>& row,
                           const std::function<void(qint64)>& progress, QString* error);
    // In one transaction on the server: the statements, then insertSql ("$n" markers) once
    // per parameter set. Throws DatabaseError with the server's message; the connection
    // then closes with the transaction open, and the server rolls it back.
    static void createOnServer(const QString& conninfo, const QStringList& statements,
                               const QByteArray& insertSql,
                               const std::vector<std::vector<std::optional<QByteArray>>>& parameterSets);

    // The options a server connection text sets, read the way the server's client library
    // reads it, in its order; nullopt when it cannot be read.
    static std::optional<std::vector<ServerTextOption>> readServerText(const QByteArray& text);
};
