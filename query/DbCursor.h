#pragma once

#include "query/DbValue.h"

#include <QString>

// One prepared statement of a back end. Parameters are bound by position (1-based, one per
// marker occurrence); step() runs the statement on its first call and then moves row by
// row. Failures throw DatabaseError (or a kind derived from it).
class DbCursor
{
public:
    enum class Type
    {
        Null,
        Integer,
        Float,
        Text,
        Blob
    };

    virtual ~DbCursor() = default;

    // A parameter value given as text; the back end coerces it by the context the marker
    // stands in (a date/time column takes a date/time text).
    virtual void bindText(int position, const QString& value) = 0;
    virtual void bindNull(int position) = 0;
    // A value as it was loaded, bound back unchanged.
    virtual void bindValue(int position, const DbValue& value) = 0;

    // True while a row is available, false once the statement is done.
    virtual bool step() = 0;
    // Result columns; -1 while the back end cannot tell before the statement has run.
    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;
    virtual QString columnDeclaredType(int column) const = 0;

    // Typed getters for the current row.
    virtual Type columnType(int column) const = 0;
    virtual qint64 columnInt64(int column) const = 0;
    virtual double columnDouble(int column) const = 0;
    virtual QString columnText(int column) const = 0;
    virtual QByteArray columnBlob(int column) const = 0;
    DbValue value(int column) const
    {
        switch (columnType(column)) {
        case Type::Null:
            return std::monostate();
        case Type::Integer:
            return columnInt64(column);
        case Type::Float:
            return columnDouble(column);
        case Type::Blob:
            return columnBlob(column);
        case Type::Text:
            break;
        }
        return columnText(column);
    }

    // Rows the statement inserted, changed or deleted, once it is done; 0 for a query.
    virtual qint64 rowsChanged() const = 0;
    virtual bool isReadOnly() const = 0;
};
