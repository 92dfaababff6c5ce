#pragma once

#include "db/DbBackend.h"

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

class SqliteDatabase;
class SqliteStatement;

// The file back end: an existing SQLite development database. Date/time columns hold whole
// seconds of the wall clock, so the texts bound in a date/time context are converted here.
// What cannot change between statements is kept per connection: the columns of each table
// and the prepared statements, both dropped when the schema changes.
class SqliteBackend : public DbBackend
{
public:
    // Opens the file, never creating it: a missing file, a folder, an Access file or
    // anything but an SQLite database is refused with EOleException naming the path.
    SqliteBackend(const QString& path, bool readOnly);
    ~SqliteBackend() override;

    std::unique_ptr<DbCursor> prepare(const SqlStatementPlan& plan, const QString& rowIdName = {}) override;
    void execute(const QString& sql) override;
    std::vector<DbColumnInfo> tableColumns(const QString& table) override;
    QString rowIdName(const std::vector<DbColumnInfo>& columns) const override;
    qint64 deleteRow(const QString& table, const QString& rowIdName, const DbValue& rowId,
                     const QStringList& columns, const std::vector<DbValue>& values) override;
    void beginWrite(const QString& key) override;
    void commit() override;
    void rollback() override;
    bool isReadOnly() const override;

    struct Prepared;

private:
    const std::vector<DbColumnInfo>& columnsOf(const QString& identifier);
    void dropCachesOnSchemaChange();

    std::unique_ptr<SqliteDatabase> m_db;
    std::unique_ptr<SqliteStatement> m_schemaVersion;
    qint64 m_knownSchemaVersion = -1;
    QHash<QString, std::vector<DbColumnInfo>> m_columns;
    QHash<QString, std::shared_ptr<Prepared>> m_statements;
};
