#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class PgTestServer;

// A throwaway PgBouncer (Debian's pgbouncer) in front of a throwaway server: listening on
// a Unix socket in a temporary folder of its own only (no TCP), pooling the database "kq"
// and any other in the given mode with the given number of server connections, and
// stopped with the object. PgBouncer refuses to run as root, so as root it runs as the
// system user "postgres", like the server. Users log in without a password, as to the
// server behind it.
class PgTestPooler
{
public:
    enum class Mode
    {
        Transaction,
        Session
    };
    // Throws std::runtime_error, with pgbouncer's log, when it does not come up.
    PgTestPooler(const PgTestServer& server, Mode mode, int poolSize);
    ~PgTestPooler();
    PgTestPooler(const PgTestPooler&) = delete;
    PgTestPooler& operator=(const PgTestPooler&) = delete;

    // Stops it (every client connection through it breaks) and starts it again.
    void stop();
    void start();

    // libpq keyword/value text for a database through the pooler.
    QString conninfo(const QString& db = QStringLiteral("kq"), const QString& user = {}) const;
    QString socketDir() const { return m_dir->path(); }
    int port() const { return kPort; }
    // psql through the pooler, as a plain client (unaligned, tuples only, trimmed).
    QString psql(const QString& sql, const QString& db = QStringLiteral("kq")) const;
    // The pooler's log so far.
    QString log() const;

private:
    static constexpr int kPort = 6432;
    static constexpr int kMaxClients = 2000;
    // Besides its clients, pgbouncer's files: its server connections, sockets, log.
    static constexpr int kFilesBeside = 100;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_configPath;
    QProcess m_process;
};
