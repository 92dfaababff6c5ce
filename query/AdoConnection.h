#pragma once

#include <QObject>
#include <QString>

#include <QDateTime>

#include <functional>
#include <memory>
#include <optional>

class DatabaseTarget;
class DbBackend;

// The terminal's one database connection. It takes a connection string naming a provider
// and a data source, and opens it on demand, when a bound query first opens: with
// ConnectionString::kSqliteFileProvider the SQLite development database file (never created), with
// ConnectionString::kPostgresProvider a PostgreSQL server (the Data Source is libpq's connection
// text). Provider failures surface as DatabaseError.
class AdoConnection : public QObject
{
    Q_OBJECT
public:
    enum class CursorLocation
    {
        Server,
        Client
    };
    enum class Mode
    {
        Read,
        ReadWrite
    };

    explicit AdoConnection(QObject* parent = nullptr);
    ~AdoConnection() override;

    void setConnectionString(const QString& text);
    QString connectionString() const { return m_connectionString; }
    void setCursorLocation(CursorLocation location) { m_cursorLocation = location; }
    CursorLocation cursorLocation() const { return m_cursorLocation; }
    void setLoginPrompt(bool prompt) { m_loginPrompt = prompt; }
    bool loginPrompt() const { return m_loginPrompt; }
    void setMode(Mode mode) { m_mode = mode; }
    Mode mode() const { return m_mode; }

    // Prepares the connection for the target, as the terminal's connection is prepared:
    // closed, given the target's connection string, client cursors, no login prompt, for
    // reading and writing. Nothing is opened. False when the target is unusable (then the
    // connection has no connection string) or a setting fails.
    bool prepare(const DatabaseTarget& target);

    // Setting false closes an open connection; setting true opens it.
    void setConnected(bool connected);
    bool connected() const { return m_backend != nullptr; }
    void open();
    void close();

    // A check run on every new back end before anything else uses it (what the tables
    // must look like for the caller's work); when it throws, the connection stays closed
    // and open() throws that. Run at once when the connection is open already.
    void setOpenCheck(std::function<void(DbBackend&)> check);

    // The open back end, opening the connection first when needed.
    DbBackend& backend();
    // The Data Source the connection string names (after parsing), for messages.
    QString dataSource() const;
    // True when the file could only be opened for reading (or Mode asked for reading).
    bool isReadOnly() const;
    // Runs statements without a result.
    void execute(const QString& sql);
    // Before a write that must land in the database the connection string names: an open
    // file connection whose path now names another file reopens it (queries already
    // loaded keep their rows). Throws as opening does when that fails.
    void revalidate();
    // Bound, in milliseconds, on waiting for a server that makes no progress; past it the
    // operation fails with ServerUnreachable. On a file, the bound on waiting for another
    // program's write lock (5 s unless set), past which a write fails as locked. 0: no
    // bound on a server, the default on a file.
    void setNetworkTimeout(int ms);
    int networkTimeout() const { return m_networkTimeoutMs; }
    // The server's local wall clock, when the connection has a server; opens it when needed.
    std::optional<QDateTime> serverClock();

signals:
    void aboutToClose();

private:
    QString m_connectionString;
    CursorLocation m_cursorLocation = CursorLocation::Client;
    bool m_loginPrompt = false;
    Mode m_mode = Mode::ReadWrite;
    // A terminal must not hang on a server that stopped answering; callers that show a
    // window set a shorter bound.
    int m_networkTimeoutMs = 30000;
    std::function<void(DbBackend&)> m_openCheck;
    bool m_networkTimeoutChosen = false;
    std::unique_ptr<DbBackend> m_backend;
};
