#include "sqlite/SqliteStatement.h"

#include "sqlite/SqliteDatabase.h"
#include "sqlite/SqliteError.h"

#include <algorithm>
#include <sqlite3.h>

namespace {

// Whether only blanks, semicolons and comments remain, as SQLite reads them.
bool onlyBlanksAndComments(const char* text, const char* end)
{
    while (text < end) {
        const char c = *text;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ';') {
            ++text;
        } else if (c == '-' && end - text >= 2 && text[1] == '-') {
            while (text < end && *text != '\n')
                ++text;
        } else if (c == '/' && end - text >= 2 && text[1] == '*') {
            text += 2;
            while (text < end && !(*text == '*' && end - text >= 2 && text[1] == '/'))
                ++text;
            text = std::min(text + 2, end);
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

SqliteStatement::SqliteStatement(sqlite3* db, const QString& sql) : m_db(db)
{
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = nullptr;
    SqliteDatabase::check(sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_stmt, &tail), db);
    // SQLite prepares only the first statement; a second one would silently not run.
    if (tail && !onlyBlanksAndComments(tail, utf8.constData() + utf8.size())) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throw SqliteError(QStringLiteral("Characters found after end of SQL statement."), SQLITE_ERROR);
    }
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

void SqliteStatement::bindNull(int index)
{
    SqliteDatabase::check(sqlite3_bind_null(m_stmt, index), m_db);
}

void SqliteStatement::bindInt64(int index, qint64 value)
{
    SqliteDatabase::check(sqlite3_bind_int64(m_stmt, index, value), m_db);
}

void SqliteStatement::bindDouble(int index, double value)
{
    SqliteDatabase::check(sqlite3_bind_double(m_stmt, index, value), m_db);
}

void SqliteStatement::bindBlob(int index, const QByteArray& value)
{
    // A zero-length blob must stay a blob, not become null.
    SqliteDatabase::check(sqlite3_bind_blob(m_stmt, index, value.constData() ? value.constData() : "",
                                            int(value.size()), SQLITE_TRANSIENT),
                          m_db);
}

void SqliteStatement::bindText(int index, const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    SqliteDatabase::check(
        sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT), m_db);
}

bool SqliteStatement::step()
{
    return SqliteDatabase::check(sqlite3_step(m_stmt), m_db) == SQLITE_ROW;
}

int SqliteStatement::columnCount() const
{
    return m_stmt ? sqlite3_column_count(m_stmt) : 0;
}

bool SqliteStatement::isReadOnly() const
{
    return m_stmt == nullptr || sqlite3_stmt_readonly(m_stmt) != 0;
}

void SqliteStatement::reset()
{
    // The error of a failed step was thrown already; reset repeats its code.
    sqlite3_reset(m_stmt);
}

void SqliteStatement::clearBindings()
{
    sqlite3_clear_bindings(m_stmt);
}

QString SqliteStatement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_stmt, column));
}

QString SqliteStatement::columnDeclaredType(int column) const
{
    return QString::fromUtf8(sqlite3_column_decltype(m_stmt, column));
}

int SqliteStatement::columnType(int column) const
{
    return sqlite3_column_type(m_stmt, column);
}

qint64 SqliteStatement::columnInt64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStatement::columnDouble(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

QString SqliteStatement::columnText(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, column));
}

QByteArray SqliteStatement::columnBlob(int column) const
{
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    return QByteArray(bytes, sqlite3_column_bytes(m_stmt, column));
}
