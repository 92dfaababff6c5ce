#pragma once

#include "query/DbColumnInfo.h"
#include "query/ServerRows.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <optional>
#include <vector>

// What a database server offers beyond plain statements: bulk copies, several statements
// in one round trip, and a look at its indexes. A back end that is a server hands this out
// (DbBackend::serverFeatures); a file has none of it, and its callers take the plain path.
class ServerFeatures
{
public:
    virtual ~ServerFeatures() = default;

    // First key of the advisory lock a swipe takes on its employee ("Tav1"); the second
    // is pg_catalog.hashtext(num).
    static constexpr int kSwipeLockClass = 0x54617631;

    struct Statement
    {
        QByteArray sql;
        // Positional "$n" parameters as text (nullopt: NULL).
        std::vector<std::optional<QByteArray>> parameters;
        // The positions of parameters given in the server's binary form instead (ServerArray),
        // for large arrays that are cheaper to write and to read that way than as text.
        std::vector<size_t> binary = {};
    };
    // Sends every statement before waiting for the first answer: one network round trip
    // for all of them. Returns their results in order. The first error throws as a single
    // statement's would, after the statements behind it were skipped by the server.
    virtual std::vector<ServerRows> pipeline(const std::vector<Statement>& statements) = 0;
    // The statements in a transaction of their own, in one round trip with its BEGIN, its
    // lock timeout and its COMMIT. Returns their results in order once committed; any
    // failure rolls the whole back and throws as a single statement's would.
    virtual std::vector<ServerRows> transaction(const std::vector<Statement>& statements) = 0;
    // What the server committed of several such transactions sent in one round trip.
    struct Committed
    {
        // The statements' results of each transaction committed, in order: those asked for
        // first, up to the one that failed.
        std::vector<std::vector<ServerRows>> results;
        // What that one's failure would have thrown (null when all were committed). A
        // refused statement or a lock wait given up rolls its transaction back, and the
        // server runs none of those behind it; after a lost connection the server may have
        // committed some of those whose answer did not come back.
        std::exception_ptr failure;
    };
    // The transactions one after the other, each with its own BEGIN, lock timeout and
    // COMMIT, all sent before the first answer is waited for, so that the server goes from
    // one to the next without waiting for the terminal.
    virtual Committed transactions(const std::vector<std::vector<Statement>>& transactions) = 0;

    // COPY ... FROM STDIN with the data in COPY's text format, sent in large pieces rather
    // than one round trip per row; returns the rows copied.
    virtual qint64 copyIn(const QByteArray& sql, const QByteArray& data) = 0;
    // COPY ... TO STDOUT: each row, in COPY's text format without its line end, is handed
    // to visit as it arrives, so that a result of any size passes through bounded memory.
    // When visit throws, the connection is dropped (the next operation connects again).
    virtual void copyOut(const QByteArray& sql, const std::function<void(QByteArrayView row)>& visit) = 0;
    // The text as an SQL string literal, for statements that take no parameters (COPY).
    virtual QByteArray literal(const QString& text) = 0;

    // The columns of each table in one look at the catalog, each list empty for a table
    // that is not there (or is no ordinary table).
    virtual std::vector<std::vector<DbColumnInfo>> columnsOfTables(const QStringList& tables) = 0;
    // Whether sgdjb has an index the duplicate test can use (a valid b-tree index whose
    // first column is num); without one every swipe reads the whole table.
    virtual bool hasDuplicateTestIndex() = 0;
};
