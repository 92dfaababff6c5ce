#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A throwaway PostgreSQL server for tests: initdb into a temporary folder, started with
// pg_ctl listening on a Unix socket in that folder only (no TCP), stopped and removed with
// the object. PostgreSQL refuses to run as root, so as root the server runs as the system
// user "postgres". The database "kq" exists from the start.
class PgTestServer
{
public:
    struct Options
    {
        // Socket logins need a password (scram-sha-256); the superuser's is kSuperuserPassword.
        bool requirePassword = false;
        // Further server settings, "name=value", over the defaults (max_connections among them).
        QStringList settings = {};
    };
    static constexpr const char* kSuperuserPassword = "postgres-secret";

    // Throws std::runtime_error, with the tool's output, when the server cannot be made.
    PgTestServer();
    explicit PgTestServer(Options options);
    // A streaming standby of a running primary (pg_basebackup -R), in a folder and on a
    // socket of its own, started and following the primary.
    static std::unique_ptr<PgTestServer> standbyOf(const PgTestServer& primary);
    // The same, streaming through another way to the primary (a relay's address and port,
    // for instance) given as libpq keyword/value text.
    static std::unique_ptr<PgTestServer> standbyOf(const PgTestServer& primary, const QString& streamFrom);
    ~PgTestServer();
    PgTestServer(const PgTestServer&) = delete;
    PgTestServer& operator=(const PgTestServer&) = delete;

    QString socketDir() const;
    int port() const { return m_port; }
    QString superuser() const { return QStringLiteral("postgres"); }

    // libpq keyword/value text: host=<socketDir> port=<port> dbname=<db> user=<user>.
    QString conninfo(const QString& db = QStringLiteral("kq"), const QString& user = {}) const;
    // The same as a URI: postgresql://user@/db?host=<socketDir>&port=<port>.
    QString uri(const QString& db = QStringLiteral("kq"), const QString& user = {}) const;

    void createDatabase(const QString& name);
    // Runs SQL with psql as the superuser; returns its output (unaligned, tuples only)
    // trimmed. Throws std::runtime_error with psql's messages on failure.
    QString psql(const QString& sql, const QString& db = QStringLiteral("kq")) const;

    // Fast shutdown, keeping the data: a server that went away.
    void stop();
    // Kills the postmaster outright (SIGKILL), as a crash or a power cut of its machine
    // ends it: nothing is flushed or shut down.
    void kill();
    // Starts it again on the same socket and port.
    void start();
    bool isRunning() const { return m_running; }
    // Makes a standby a primary that takes writes (pg_ctl promote), waiting until it does.
    void promote();

private:
    struct StandbyTag
    {
    };
    PgTestServer(const PgTestServer& primary, StandbyTag, const QString& streamFrom);
    QString run(const QString& program, const QStringList& args, bool asServerUser) const;

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_binDir;
    int m_port = 5432;
    bool m_running = false;
};
