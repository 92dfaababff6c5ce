#pragma once

#include "query/DbBackend.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>
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
    // anything but an SQLite database is refused with DatabaseError naming the path.
    SqliteBackend(const QString& path, bool readOnly);
    ~SqliteBackend() override;

    std::unique_ptr<DbCursor> prepare(const SqlStatementPlan& plan, const QString& rowIdName = {}) override;
    void execute(const QString& sql) override;
    std::vector<DbColumnInfo> tableColumns(const QString& table) override;
    QString rowIdName(const std::vector<DbColumnInfo>& columns) const override;
    qint64 deleteRow(const QString& table, const QString& rowIdName, const DbValue& rowId,
                     const QStringList& columns, const std::vector<DbValue>& values) override;
    void beginWrite(const QString& key) override;
    void beginListWrite() override;
    void commit() override;
    void rollback() override;
    bool isReadOnly() const override;
    // How long a write waits for another program's write lock before it fails as locked.
    void setNetworkTimeout(int ms) override;
    // Reopens the file when its path now names another file (device and inode differ),
    // or the file was written over by another program (size or time of change differ from
    // this connection's last open or commit), as after a backup was restored; throws
    // DatabaseError, as opening does, when there is no usable file under the path.
    void revalidate() override;

    struct Prepared;

    // How long a statement waits for another program's lock on the file unless the
    // connection sets another bound.
    static constexpr int kBusyTimeoutMs = 5000;

private:
    // The file under the path as it was when last opened or written by this connection:
    // another file, or the same one written over by someone else, differs.
    struct FileIdentity
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    struct OpenedFile
    {
        std::unique_ptr<SqliteDatabase> db;
        std::unique_ptr<SqliteStatement> schemaVersion;
        std::optional<FileIdentity> identity;
    };
    static std::optional<FileIdentity> fileIdentity(const QString& path);
    static OpenedFile openFile(const QString& path, bool readOnly);

    const std::vector<DbColumnInfo>& columnsOf(const QString& identifier);
    // The open handle; throws DatabaseError when a reopen after the file was replaced failed.
    SqliteDatabase& db() const;
    void dropCachesOnSchemaChange();

    QString m_path;
    bool m_readOnly = false;
    std::optional<FileIdentity> m_file;
    std::unique_ptr<SqliteDatabase> m_db;
    std::unique_ptr<SqliteStatement> m_schemaVersion;
    qint64 m_knownSchemaVersion = -1;
    int m_busyTimeoutMs = kBusyTimeoutMs;
    QHash<QString, std::vector<DbColumnInfo>> m_columns;
    QHash<QString, std::shared_ptr<Prepared>> m_statements;
};
