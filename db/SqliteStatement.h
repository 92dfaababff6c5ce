#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement, finalized when it goes out of scope. Failures throw through
// SqliteDatabase::check; a text holding more than one statement throws EOleException.
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
    int columnCount() const;
    bool isReadOnly() const;

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};
