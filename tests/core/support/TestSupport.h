#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>

// Helpers shared by the core tests: a throw-away development database with the attendance
// schema, and direct access to it that bypasses the code under test.
namespace TestSupport {

// The DDL the development database is created with.
extern const char* const kSchema;

// A temporary folder holding kq.mdb with the schema; removed with the object.
class DevDatabase
{
public:
    DevDatabase();
    QString path() const { return m_path; }
    QString folder() const { return m_dir.path(); }
    // Connection string as the terminal composes it.
    QString connectionString() const;
    // Runs SQL directly on the file (not through the provider).
    void exec(const QString& sql) const;
    qint64 scalar(const QString& sql) const;
    QString text(const QString& sql) const;

private:
    QTemporaryDir m_dir;
    QString m_path;
};

QString jetConnectionString(const QString& path);
QByteArray fileBytes(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
// Seconds of the local wall clock since 1970-01-01 for a "yyyy-mm-dd hh:nn:ss" text.
qint64 wallSeconds(const QString& text);

} // namespace TestSupport
