#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdexcept>

namespace TestSupport {

const char* const kSchema =
    "CREATE TABLE employ (num VARCHAR(10) NOT NULL, name VARCHAR(20), dept_no VARCHAR(10));"
    "CREATE TABLE sgdjb (num VARCHAR(10), name VARCHAR(20), D DATETIME, T DATETIME, "
    "opdate DATETIME);"
    "CREATE INDEX sgdjb_num_instant ON sgdjb (num, (D+T));";

namespace {

struct Handle
{
    sqlite3* db = nullptr;
    explicit Handle(const QString& path, int flags = SQLITE_OPEN_READWRITE)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, flags, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open test database");
    }
    ~Handle() { sqlite3_close_v2(db); }
};

template <typename Read> void query(const QString& path, const QString& sql, Read read)
{
    Handle h(path);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(h.db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(h.db));
    if (sqlite3_step(stmt) == SQLITE_ROW)
        read(stmt);
    sqlite3_finalize(stmt);
}

} // namespace

DevDatabase::DevDatabase() : m_path(m_dir.filePath(QStringLiteral("kq.mdb")))
{
    Handle h(m_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    char* error = nullptr;
    if (sqlite3_exec(h.db, kSchema, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : "schema failed";
        sqlite3_free(error);
        throw std::runtime_error(text);
    }
}

QString DevDatabase::connectionString() const
{
    return jetConnectionString(m_path);
}

void DevDatabase::exec(const QString& sql) const
{
    Handle h(m_path);
    char* error = nullptr;
    if (sqlite3_exec(h.db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : "exec failed";
        sqlite3_free(error);
        throw std::runtime_error(text);
    }
}

qint64 DevDatabase::scalar(const QString& sql) const
{
    qint64 value = 0;
    query(m_path, sql, [&](sqlite3_stmt* stmt) { value = sqlite3_column_int64(stmt, 0); });
    return value;
}

QString DevDatabase::text(const QString& sql) const
{
    QString value;
    query(m_path, sql, [&](sqlite3_stmt* stmt) {
        value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    });
    return value;
}

QString jetConnectionString(const QString& path)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Mode=Read|Write;"
                          "Persist Security Info=False")
        .arg(path);
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file");
}

qint64 wallSeconds(const QString& text)
{
    const QDateTime dt = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QDateTime asUtc(dt.date(), dt.time(), QTimeZone::utc());
    return asUtc.toSecsSinceEpoch();
}

} // namespace TestSupport
