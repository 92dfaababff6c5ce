#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

namespace TestSupport {

// Debian's sqlite3 shell on a database file, as an administrator or another program uses
// it beside the terminals: a process of its own that keeps its connection (and whatever
// transaction it began) open between the statements the test hands it. Stopped, by its
// own .quit or by a kill, when the object goes.
class SqliteShell
{
public:
    explicit SqliteShell(const QString& path);
    ~SqliteShell();
    SqliteShell(const SqliteShell&) = delete;
    SqliteShell& operator=(const SqliteShell&) = delete;

    // Runs the statements (or dot commands) and returns what they printed once they are
    // done; their error messages, if any, in error(). Fails the test after timeoutMs.
    QByteArray run(const QString& sql, int timeoutMs = 60000);
    QByteArray error() const { return m_error; }
    // Ends the shell: .quit, then a kill after a bound.
    void quit();

private:
    QProcess m_process;
    QByteArray m_error;
    int m_marker = 0;
};

} // namespace TestSupport
