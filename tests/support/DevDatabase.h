#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace TestSupport {

// A temporary folder holding kq.mdb with the development schema and no rows; removed with
// the object. The access methods open the file afresh for each call, so they hold no lock
// between calls.
class DevDatabase
{
public:
    DevDatabase();
    // With employees 0001, 0002, ... named "Worker 0001", ..., all in department 01.
    explicit DevDatabase(int workers);
    QString path() const { return m_path; }
    QString folder() const { return m_dir.path(); }
    // Connection string as the terminal composes it.
    QString connectionString() const;
    // Direct access to the file, bypassing the code under test (see SqliteFile).
    void exec(const QString& sql) const;
    qint64 scalar(const QString& sql) const;
    QString text(const QString& sql) const;
    QStringList rows(const QString& sql) const;

private:
    QTemporaryDir m_dir;
    QString m_path;
};

} // namespace TestSupport
