#pragma once

#include "query/DbColumnInfo.h"
#include "query/DbCursor.h"
#include "query/DbValue.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class ServerFeatures;
class SqlStatementPlan;

// One open connection of a database back end: the file back end (SQLite) or the server
// back end (PostgreSQL). AdoConnection owns one; everything above it sees only this.
class DbBackend
{
public:
    virtual ~DbBackend() = default;

    // Prepares a statement written with ":name" markers. With a rowIdName (a single-table
    // SELECT only) the row's identity is prepended as result column 0.
    virtual std::unique_ptr<DbCursor> prepare(const SqlStatementPlan& plan,
                                              const QString& rowIdName = {}) = 0;
    // Runs a statement without parameters or rows of interest.
    virtual void execute(const QString& sql) = 0;

    // The columns of a table in their order; empty when there is no such table.
    virtual std::vector<DbColumnInfo> tableColumns(const QString& table) = 0;
    // The name under which a row's identity can be selected from a table with these
    // columns, or empty when its rows cannot be told apart.
    virtual QString rowIdName(const std::vector<DbColumnInfo>& columns) const = 0;
    // Deletes the one row that has this identity and still holds every given value
    // (columns and values in step); returns the number of rows deleted.
    virtual qint64 deleteRow(const QString& table, const QString& rowIdName, const DbValue& rowId,
                             const QStringList& columns, const std::vector<DbValue>& values) = 0;

    // A write transaction, serialised against every other one taken with the same key
    // (the employee number of a swipe) on any connection to the same database.
    virtual void beginWrite(const QString& key) = 0;
    // A write transaction that changes the employee list as a whole (an import),
    // serialised against every other one of its kind, so that two imports cannot both find
    // a number missing and both add it.
    virtual void beginListWrite() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    virtual bool isReadOnly() const = 0;
    // Called before a write that must land in the database the connection names: a back
    // end whose connection may have come to point at something else (a file replaced
    // under its path) reconnects. Nothing to do for a server.
    virtual void revalidate() {}
    // Bound on waiting for a server that makes no progress; nothing for a file.
    virtual void setNetworkTimeout(int ms) { (void)ms; }
    // The server's local wall clock, for a back end that has one apart from the terminal's.
    virtual std::optional<QDateTime> serverClock() { return std::nullopt; }
    // What a server offers beyond plain statements; nullptr for a file. Owned by the back end.
    virtual ServerFeatures* serverFeatures() { return nullptr; }
};
