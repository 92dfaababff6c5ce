#include "support/PgTestPooler.h"

#include "support/PgTestServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <stdexcept>

#include <pwd.h>
#include <unistd.h>

namespace {

bool isRoot()
{
    return geteuid() == 0;
}

void giveToServerUser(const QString& path)
{
    const passwd* user = getpwnam("postgres");
    if (!user)
        throw std::runtime_error("running as root needs the system user postgres (postgresql package)");
    if (chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) != 0)
        throw std::runtime_error("cannot hand the pooler's folder to the user postgres");
}

void writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    file.close();
    if (isRoot())
        giveToServerUser(path);
}

QString quoted(const QString& value)
{
    return u'\'' +
           QString(value).replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'")) +
           u'\'';
}

} // namespace

PgTestPooler::PgTestPooler(const PgTestServer& server, Mode mode, int poolSize)
{
    m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/pgb-XXXXXX"));
    if (!m_dir->isValid())
        throw std::runtime_error("cannot make a temporary folder for the pooler");
    if (isRoot())
        giveToServerUser(m_dir->path());
    const QByteArray users = "\"postgres\" \"\"\n\"tavelo_terminal\" \"\"\n\"kq_admin\" \"\"\n";
    writeFile(m_dir->filePath(QStringLiteral("users.txt")), users);
    const QByteArray config =
        QStringLiteral("[databases]\n"
                       "* = host=%1 port=%2\n"
                       "[pgbouncer]\n"
                       "listen_addr =\n"
                       "listen_port = %3\n"
                       "unix_socket_dir = %4\n"
                       "auth_type = trust\n"
                       "auth_file = %5\n"
                       "pool_mode = %6\n"
                       "default_pool_size = %7\n"
                       "min_pool_size = 0\n"
                       "reserve_pool_size = 0\n"
                       "max_client_conn = %9\n"
                       "max_db_connections = %7\n"
                       "server_login_retry = 1\n"
                       "logfile = %8\n"
                       "admin_users = postgres\n")
            .arg(server.socketDir())
            .arg(server.port())
            .arg(kPort)
            .arg(m_dir->path(), m_dir->filePath(QStringLiteral("users.txt")),
                 mode == Mode::Transaction ? QStringLiteral("transaction") : QStringLiteral("session"))
            .arg(poolSize)
            .arg(m_dir->filePath(QStringLiteral("pgbouncer.log")))
            .arg(kMaxClients)
            .toUtf8();
    const QString configPath = m_dir->filePath(QStringLiteral("pgbouncer.ini"));
    writeFile(configPath, config);

    m_configPath = configPath;
    start();
}

void PgTestPooler::start()
{
    const QString configPath = m_configPath;
    // Its stdout and stderr are of no use: the log file has all.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(m_dir->filePath(QStringLiteral("stderr.txt")));
    // A shell stays beside pgbouncer: it stops it when told to, and also when this test
    // process is gone without a word (killed by a timeout), so no pooler outlives a test.
    // runuser starts the user's session with the default soft limit of open files (1024),
    // below max_client_conn: past it pgbouncer leaves new clients unaccepted in the
    // socket's queue, and they wait for an answer that never comes. Raised to the hard limit,
    // and refused when that is still too low, rather than fail a client now and then.
    const QString script =
        QStringLiteral(
            "ulimit -n \"$(ulimit -Hn)\" 2>/dev/null\n"
            "if [ \"$(ulimit -n)\" != unlimited ] && [ \"$(ulimit -n)\" -lt %1 ]; then\n"
            "  echo \"open-file limit $(ulimit -n) is below %1, what max_client_conn needs\" >&2; exit 1\n"
            "fi\n"
            "pgbouncer -q \"$1\" & b=$!\n"
            "trap 'kill $b 2>/dev/null; wait $b; exit 0' TERM INT\n"
            "while [ -d /proc/$2 ] && kill -0 $b 2>/dev/null; do sleep 0.2; done\n"
            "kill $b 2>/dev/null; wait $b\n")
            .arg(kMaxClients + kFilesBeside);
    const QStringList shell{QStringLiteral("-c"), script, QStringLiteral("pooler"), configPath,
                            QString::number(getpid())};
    if (isRoot())
        m_process.start(QStringLiteral("runuser"),
                        QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"),
                                    QStringLiteral("sh")} +
                            shell);
    else
        m_process.start(QStringLiteral("sh"), shell);
    if (!m_process.waitForStarted(10000))
        throw std::runtime_error("pgbouncer did not start (install the pgbouncer package: "
                                 "scripts/install-deps.sh --tests)");
    // Up once its socket is there and answers.
    const QString socket = m_dir->filePath(QStringLiteral(".s.PGSQL.%1").arg(kPort));
    const QDeadlineTimer deadline(20000);
    for (;;) {
        if (QFileInfo::exists(socket)) {
            try {
                psql(QStringLiteral("SELECT 1"));
                break;
            } catch (const std::runtime_error&) {
            }
        }
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
            const QString why = log();
            m_process.kill();
            m_process.waitForFinished(2000);
            throw std::runtime_error("pgbouncer did not come up: " + why.right(2000).toStdString());
        }
        QThread::msleep(50);
    }
}

void PgTestPooler::stop()
{
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QFile::remove(m_dir->filePath(QStringLiteral(".s.PGSQL.%1").arg(kPort)));
}

PgTestPooler::~PgTestPooler()
{
    stop();
}

QString PgTestPooler::conninfo(const QString& db, const QString& user) const
{
    return QStringLiteral("host=%1 port=%2 dbname=%3 user=%4")
        .arg(quoted(socketDir()))
        .arg(kPort)
        .arg(quoted(db), quoted(user.isEmpty() ? QStringLiteral("postgres") : user));
}

QString PgTestPooler::psql(const QString& sql, const QString& db) const
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"PGHOST", "PGHOSTADDR", "PGPORT", "PGDATABASE", "PGUSER", "PGSERVICE",
                             "PGSERVICEFILE", "PGPASSFILE", "PGOPTIONS", "PGSSLMODE", "PGPASSWORD"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("psql"),
                  {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                   QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"),
                   conninfo(db), QStringLiteral("-c"), sql});
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        throw std::runtime_error("psql through the pooler failed: " +
                                 QString::fromLocal8Bit(process.readAllStandardError()).toStdString());
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString PgTestPooler::log() const
{
    QFile file(m_dir->filePath(QStringLiteral("pgbouncer.log")));
    QFile err(m_dir->filePath(QStringLiteral("stderr.txt")));
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text += QString::fromLocal8Bit(file.readAll());
    if (err.open(QIODevice::ReadOnly))
        text += QString::fromLocal8Bit(err.readAll());
    return text;
}
