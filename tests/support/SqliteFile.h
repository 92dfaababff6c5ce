#pragma once

#include <QString>
#include <QStringList>

struct sqlite3;

namespace TestSupport {

// A database file opened directly with SQLite, behind the back of the code under test, so
// that a test sees what is really stored and can set up or disturb the file as another
// program would. Every failure throws std::runtime_error naming the statement.
class SqliteFile
{
public:
    enum class Mode
    {
        ReadWrite,
        ReadOnly,
        Create
    };

    explicit SqliteFile(const QString& path, Mode mode = Mode::ReadWrite);
    ~SqliteFile();
    SqliteFile(const SqliteFile&) = delete;
    SqliteFile& operator=(const SqliteFile&) = delete;

    // Runs one or more statements.
    void exec(const QString& sql) const;
    // The same without throwing: false on any failure, a busy database included.
    bool tryExec(const QString& sql) const;
    // First column of the first row as an integer; 0 when there is no row.
    qint64 scalar(const QString& sql) const;
    // First column of the first row as text; empty for NULL or no row.
    QString text(const QString& sql) const;
    // Every row, its columns as text joined by '|', NULL as the empty text.
    QStringList rows(const QString& sql) const;
    // How long a statement waits for another connection's lock (5 s unless set).
    void setBusyTimeout(int msecs) const;

private:
    sqlite3* m_db = nullptr;
};

} // namespace TestSupport
