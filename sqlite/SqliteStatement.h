#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement, finalized when it goes out of scope. Failures throw through
// SqliteDatabase::check; a text holding more than one statement throws SqliteError.
class SqliteStatement
{
public:
    SqliteStatement(sqlite3* db, const QString& sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    sqlite3_stmt* handle() const { return m_stmt; }
    // False when the text held nothing but blanks and comments.
    bool isValid() const { return m_stmt != nullptr; }

    void bindNull(int index);
    void bindInt64(int index, qint64 value);
    void bindDouble(int index, double value);
    void bindText(int index, const QString& value);
    void bindBlob(int index, const QByteArray& value);

    // True while a row is available, false once the statement is done.
    bool step();
    // Back to before the first row, keeping the bindings; clearBindings() sets them null.
    void reset();
    void clearBindings();
    int columnCount() const;
    bool isReadOnly() const;

    QString columnName(int column) const;
    // The declared type of the table column a result column reads, empty for an expression.
    QString columnDeclaredType(int column) const;
    // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL of the current row.
    int columnType(int column) const;
    qint64 columnInt64(int column) const;
    double columnDouble(int column) const;
    QString columnText(int column) const;
    QByteArray columnBlob(int column) const;

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};
