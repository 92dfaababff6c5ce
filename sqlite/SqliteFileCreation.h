#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Makes a new database file in one transaction. Never touches an existing file: false with
// a message when the path exists or anything fails, in which case no file is left behind.
class SqliteFileCreation
{
public:
    // Runs the statements, then insertSql ("?" markers) once for each of rowCount rows,
    // with row(i) giving the texts bound to its markers; progress, when given, is called
    // with the number of rows written so far.
    static bool create(const QString& path, const QStringList& statements, const QByteArray& insertSql,
                       qsizetype rowCount, const std::function<QList<QByteArray>(qsizetype)>& row,
                       const std::function<void(qint64)>& progress, QString* error);
};
