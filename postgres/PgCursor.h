#pragma once

#include "postgres/PgResult.h"
#include "query/DbCursor.h"
#include "query/DbValue.h"

#include <QByteArray>

#include <functional>
#include <optional>
#include <vector>

// A statement for the server with its "$n" parameters bound as text, run when first
// stepped; its rows are then read from the one result the server sent. Dates and
// timestamps read as ISO text whatever the server's DateStyle.
class PgCursor : public DbCursor
{
public:
    using Parameters = std::vector<std::optional<QByteArray>>;
    // Runs the statement with its parameters and returns the result, with the session's
    // DateStyle as the server reported it while writing the result.
    using Runner =
        std::function<PgResult(const QByteArray& sql, const Parameters& parameters, QByteArray* dateStyle)>;

    PgCursor(Runner runner, QByteArray sql, size_t parameterCount);

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

    Runner m_runner;
    QByteArray m_sql;
    Parameters m_parameters;
    PgResult m_result;
    QByteArray m_dateStyle;
    int m_row = -1;
};
