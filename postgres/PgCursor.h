#pragma once

#include "postgres/PgResult.h"
#include "query/DbCursor.h"
#include "query/DbValue.h"

#include <QByteArray>

#include <optional>
#include <vector>

class PgBackend;

// A statement for the server with its "$n" parameters bound as text, sent when first
// stepped; each step then reads the next row as the server sends it, so that a list of any
// length is never held whole beside the rows its reader keeps. A cursor left before its
// last row has the rest read off and dropped. Dates and timestamps read as ISO text
// whatever the server's DateStyle.
class PgCursor : public DbCursor
{
public:
    using Parameters = std::vector<std::optional<QByteArray>>;

    PgCursor(PgBackend& backend, QByteArray sql, size_t parameterCount);
    ~PgCursor() override;
    PgCursor(const PgCursor&) = delete;
    PgCursor& operator=(const PgCursor&) = delete;

    void bindText(int position, const QString& value) override;
    void bindNull(int position) override;
    void bindValue(int position, const DbValue& value) override;

    bool step() override;
    int columnCount() const override;
    QString columnName(int column) const override;
    QString columnDeclaredType(int column) const override;
    Type columnType(int column) const override;
    qint64 columnInt64(int column) const override;
    double columnDouble(int column) const override;
    QString columnText(int column) const override;
    QByteArray columnBlob(int column) const override;
    qint64 rowsChanged() const override;
    bool isReadOnly() const override;

    // A value as the server reads a parameter in text form (nullopt: NULL).
    static std::optional<QByteArray> parameterText(const DbValue& value);

private:
    std::optional<QByteArray>& at(int position);
    QByteArray raw(int column) const;
    // The current row within m_result: each row comes as a result of its own; past the
    // last, none.
    int row() const { return m_done ? m_result.rows() : 0; }

    PgBackend& m_backend;
    QByteArray m_sql;
    Parameters m_parameters;
    // The current row's result; once done, the statement's closing result (its columns,
    // or a command's count).
    PgResult m_result;
    QByteArray m_dateStyle;
    quint64 m_statement = 0;
    bool m_started = false;
    bool m_done = false;
};
