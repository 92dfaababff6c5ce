#include "support/SqliteFile.h"

#include <QFile>

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace TestSupport {

namespace {

constexpr int kBusyTimeoutMs = 5000;

std::runtime_error failure(sqlite3* db, const QString& sql)
{
    return std::runtime_error(std::string(db ? sqlite3_errmsg(db) : "out of memory") + " (" +
                              std::to_string(db ? sqlite3_extended_errcode(db) : 0) + ", errno " +
                              std::to_string(db ? sqlite3_system_errno(db) : 0) + ") in " +
                              sql.toStdString());
}

int openFlags(SqliteFile::Mode mode)
{
    switch (mode) {
    case SqliteFile::Mode::ReadOnly:
        return SQLITE_OPEN_READONLY;
    case SqliteFile::Mode::Create:
        return SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    case SqliteFile::Mode::ReadWrite:
        break;
    }
    return SQLITE_OPEN_READWRITE;
}

// One statement's rows, each handed to read.
template <typename Read> void eachRow(sqlite3* db, const QString& sql, Read read)
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK)
        throw failure(db, sql);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        read(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        throw failure(db, sql);
}

QString columnText(sqlite3_stmt* stmt, int column)
{
    const unsigned char* text = sqlite3_column_text(stmt, column);
    return text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QString();
}

} // namespace

SqliteFile::SqliteFile(const QString& path, Mode mode)
{
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, openFlags(mode), nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        throw std::runtime_error("cannot open " + path.toStdString() + ": " + message);
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
}

SqliteFile::~SqliteFile()
{
    sqlite3_close_v2(m_db);
}

void SqliteFile::exec(const QString& sql) const
{
    if (!tryExec(sql))
        throw failure(m_db, sql);
}

bool SqliteFile::tryExec(const QString& sql) const
{
    return sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

qint64 SqliteFile::scalar(const QString& sql) const
{
    qint64 value = 0;
    bool first = true;
    eachRow(m_db, sql, [&](sqlite3_stmt* stmt) {
        if (std::exchange(first, false))
            value = sqlite3_column_int64(stmt, 0);
    });
    return value;
}

QString SqliteFile::text(const QString& sql) const
{
    QString value;
    bool first = true;
    eachRow(m_db, sql, [&](sqlite3_stmt* stmt) {
        if (std::exchange(first, false))
            value = columnText(stmt, 0);
    });
    return value;
}

QStringList SqliteFile::rows(const QString& sql) const
{
    QStringList result;
    eachRow(m_db, sql, [&](sqlite3_stmt* stmt) {
        QStringList columns;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            columns.append(columnText(stmt, i));
        result.append(columns.join(u'|'));
    });
    return result;
}

void SqliteFile::setBusyTimeout(int msecs) const
{
    sqlite3_busy_timeout(m_db, msecs);
}

} // namespace TestSupport
