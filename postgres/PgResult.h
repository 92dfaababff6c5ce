#pragma once

#include <QByteArray>
#include <QString>

struct pg_result;

// One result of the server, owned: freed when it goes, moved but never copied, so that a
// result handed out by the back end can be neither leaked nor freed twice. The one owner of
// a libpq result in this folder: nothing else frees one.
class PgResult
{
public:
    PgResult() = default;
    explicit PgResult(pg_result* result) : m_result(result) {}
    ~PgResult();
    PgResult(PgResult&& other) noexcept : m_result(other.m_result) { other.m_result = nullptr; }
    PgResult& operator=(PgResult&& other) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    explicit operator bool() const { return m_result != nullptr; }
    // For libpq calls inside the server back end that only read the result.
    pg_result* get() const { return m_result; }

    // libpq's ExecStatusType of the result.
    int status() const;
    // A statement the server refused, or an answer libpq could not read.
    bool isError() const;
    // The server's report of an error, over several lines as it sent it.
    QString errorMessage() const;
    // The error's SQLSTATE ("" for none).
    QByteArray sqlState() const;
    // The rows a command changed ("INSERT 0 3" gives 3); 0 for one that does not say.
    qint64 rowsChanged() const;

    int rows() const;
    int columns() const;
    // The value as the server sent it in text form; "" for NULL.
    const char* value(int row, int column) const;
    int length(int row, int column) const;
    bool isNull(int row, int column) const;
    QByteArray bytes(int row, int column) const
    {
        return QByteArray(value(row, column), length(row, column));
    }
    QString columnName(int column) const;
    // The column's type OID and modifier.
    unsigned columnType(int column) const;
    int columnModifier(int column) const;

private:
    pg_result* m_result = nullptr;
};
