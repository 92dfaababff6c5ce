#pragma once

#include "query/AdoConnection.h"
#include "query/DateTimeValue.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

class AdoConnection;
class DbCursor;
class SqlStatementPlan;

// A query bound to an AdoConnection. Opening it runs its statement and loads every row
// into a client-side snapshot; navigation, field reads and locate work on that snapshot.
// The current row can be deleted from its table at once. Errors: the access layer's own
// checks raise QueryStateError/QueryParameterError, provider failures DatabaseError, failed field
// conversions ConversionError.
class AdoQuery : public QObject
{
    Q_OBJECT
public:
    explicit AdoQuery(const QString& name, QObject* parent = nullptr);
    ~AdoQuery() override;

    QString name() const { return m_name; }

    void setConnection(AdoConnection* connection);
    AdoConnection* connection() const { return m_connection; }

    // Statement, kept as lines; every change rebuilds the parameter list from the
    // ":name" markers in order of appearance.
    void sqlClear();
    void sqlAdd(const QString& line);
    QString sqlText() const;
    QStringList parameterNames() const;
    // Every value is passed as text; the provider coerces it by the context it stands in.
    void setParameter(const QString& name, const QString& value);

    // Opens the connection when needed, runs the statement and loads all of its rows.
    void open();
    // Frees the snapshot; on a closed query it does nothing. Every operation below that
    // reads the snapshot raises QueryStateError on a closed query.
    void close();
    bool isOpen() const;
    // Runs the statement without a result set; returns the number of rows changed.
    int execSql();
    // Runs the statement and hands its rows to visit one at a time, as the back end
    // delivers them, instead of loading them all: while visit runs, the query is open on
    // that one row and the field reads work as usual. For reads too large to hold, such as
    // an export. The query is closed again afterwards, also when visit throws; no signals
    // are sent. Returns the number of rows.
    qint64 openForEach(const std::function<void()>& visit);

    int recordCount() const;
    bool isEmpty() const;
    // Current row index, 0-based; -1 when the query is empty.
    int recNo() const;
    void setRecNo(int row);
    void first();
    void last();

    int fieldCount() const;
    QString fieldName(int column) const;
    int fieldIndex(const QString& name) const; // -1 when absent
    // Display width in characters: the declared length of a text column, else a width
    // that suits the type.
    int fieldDisplayWidth(int column) const;
    QString fieldAsString(const QString& name) const;
    DateTimeValue fieldAsDateTime(const QString& name) const;
    // Direct snapshot access for views: no copy, no checks beyond bounds.
    QString valueAsString(int row, int column) const;

    // Case-insensitive prefix search on a field; the match first in ascending order of
    // that field becomes current. Returns false and changes nothing when none matches.
    bool locate(const QString& field, const QString& key);
    // Builds the search order of a field now, so that the first locate is as quick as
    // the others.
    void prepareLocate(const QString& field);

    bool canModify() const;
    // Deletes the current row from its table at once; a refusal leaves the row in place.
    void deleteCurrent();

signals:
    void opened();
    void closed();
    void currentChanged(int row);
    void rowDeleted(int row);

private:
    struct Snapshot;

    void checkOpen() const;
    void setCurrent(int row);
    int requireField(const QString& name) const;
    void rebuildParameters();
    void bindParameters(DbCursor& cursor) const;
    static void describeColumns(const DbCursor& cursor, int first, int count, Snapshot& snapshot);

    QString m_name;
    QPointer<AdoConnection> m_connection;
    QStringList m_lines;
    // The statement's analysis, made once per text change.
    std::shared_ptr<const SqlStatementPlan> m_plan;
    QStringList m_parameterNames;
    std::vector<QVariant> m_parameterValues;
    std::unique_ptr<Snapshot> m_snapshot;
    int m_current = -1;
};
