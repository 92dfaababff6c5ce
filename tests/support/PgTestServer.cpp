#include "support/PgTestServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <stdexcept>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr int kToolTimeoutMs = 60000;

bool isRoot()
{
    return geteuid() == 0;
}

// Debian keeps the server programs out of PATH, one folder per major version.
QString serverBinDir()
{
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList names = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& name : names) {
        const QString bin = versions.filePath(name + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    throw std::runtime_error("PostgreSQL server programs not found under /usr/lib/postgresql "
                             "(install the postgresql package: scripts/install-deps.sh)");
}

void giveToServerUser(const QString& path)
{
    const passwd* user = getpwnam("postgres");
    if (!user)
        throw std::runtime_error("running as root needs the system user postgres (postgresql package)");
    if (chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) != 0)
        throw std::runtime_error("cannot hand the test server folder to the user postgres");
}

// pg_ctl leaves the server running on its own, so a test process killed outright (a
// ctest timeout, a debugger) would leave it behind with its temporary folder. A detached
// shell outlives the test, polls it, and when it is gone while the data folder is still
// there, stops the server and removes the folder. A normal end removes the folder first,
// and the watcher then simply leaves.
void watchTestProcess(const QString& pgCtl, const QString& folder, bool asServerUser)
{
    static const QString script = QStringLiteral("pid=$1; folder=$2; pgctl=$3; asuser=$4\n"
                                                 "while kill -0 \"$pid\" 2>/dev/null; do\n"
                                                 "  [ -d \"$folder/data\" ] || exit 0\n"
                                                 "  sleep 1\n"
                                                 "done\n"
                                                 "[ -d \"$folder/data\" ] || exit 0\n"
                                                 "if [ \"$asuser\" = 1 ]; then runuser -u postgres -- "
                                                 "\"$pgctl\" stop -D \"$folder/data\" -m immediate\n"
                                                 "else \"$pgctl\" stop -D \"$folder/data\" -m immediate; fi\n"
                                                 "rm -rf \"$folder\"\n");
    QProcess::startDetached(QStringLiteral("sh"),
                            {QStringLiteral("-c"), script, QStringLiteral("pgtest-watch"),
                             QString::number(getpid()), folder, pgCtl,
                             asServerUser ? QStringLiteral("1") : QStringLiteral("0")},
                            QStringLiteral("/"));
}

QString quoteConninfo(const QString& value)
{
    return u'\'' +
           QString(value).replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'")) +
           u'\'';
}

} // namespace

PgTestServer::PgTestServer() : PgTestServer(Options{}) {}

PgTestServer::PgTestServer(Options options) : m_options(options), m_binDir(serverBinDir())
{
    // A short folder name: a Unix socket path must fit in about 100 bytes.
    m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/pgt-XXXXXX"));
    if (!m_dir->isValid())
        throw std::runtime_error("cannot make a temporary folder for the test server");
    if (isRoot())
        giveToServerUser(m_dir->path());

    QStringList initdb{QStringLiteral("-D"),          m_dir->filePath(QStringLiteral("data")),
                       QStringLiteral("-U"),          superuser(),
                       QStringLiteral("-E"),          QStringLiteral("UTF8"),
                       QStringLiteral("--no-locale"), QStringLiteral("--no-sync")};
    if (m_options.requirePassword) {
        const QString pwfile = m_dir->filePath(QStringLiteral("pwfile"));
        QFile file(pwfile);
        if (!file.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the password file");
        file.write(kSuperuserPassword);
        file.close();
        if (isRoot())
            giveToServerUser(pwfile);
        initdb << QStringLiteral("--auth=scram-sha-256") << QStringLiteral("--pwfile=") + pwfile;
    } else {
        initdb << QStringLiteral("--auth=trust");
    }
    run(m_binDir + QStringLiteral("/initdb"), initdb, true);
    start();
    watchTestProcess(m_binDir + QStringLiteral("/pg_ctl"), m_dir->path(), isRoot());
    createDatabase(QStringLiteral("kq"));
}

std::unique_ptr<PgTestServer> PgTestServer::standbyOf(const PgTestServer& primary)
{
    return std::unique_ptr<PgTestServer>(new PgTestServer(primary, StandbyTag{}, {}));
}

std::unique_ptr<PgTestServer> PgTestServer::standbyOf(const PgTestServer& primary, const QString& streamFrom)
{
    return std::unique_ptr<PgTestServer>(new PgTestServer(primary, StandbyTag{}, streamFrom));
}

PgTestServer::PgTestServer(const PgTestServer& primary, StandbyTag, const QString& streamFrom)
    : m_options(primary.m_options), m_binDir(primary.m_binDir)
{
    m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/pgt-XXXXXX"));
    if (!m_dir->isValid())
        throw std::runtime_error("cannot make a temporary folder for the standby server");
    if (isRoot())
        giveToServerUser(m_dir->path());
    // -R writes standby.signal and the primary's connection, so the copy starts as a
    // standby streaming from the primary.
    run(m_binDir + QStringLiteral("/pg_basebackup"),
        {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-R"),
         QStringLiteral("-X"), QStringLiteral("stream"), QStringLiteral("-c"), QStringLiteral("fast"),
         QStringLiteral("-d"), primary.conninfo(QStringLiteral("postgres"))},
        true);
    if (!streamFrom.isEmpty()) {
        // A later setting wins: the standby streams through the other way.
        QFile conf(m_dir->filePath(QStringLiteral("data/postgresql.auto.conf")));
        if (!conf.open(QIODevice::Append))
            throw std::runtime_error("cannot point the standby at the other way to its primary");
        conf.write("primary_conninfo = " + quoteConninfo(streamFrom).toUtf8() + "\n");
    }
    start();
    watchTestProcess(m_binDir + QStringLiteral("/pg_ctl"), m_dir->path(), isRoot());
}

void PgTestServer::promote()
{
    run(m_binDir + QStringLiteral("/pg_ctl"),
        {QStringLiteral("promote"), QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")),
         QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60")},
        true);
}

PgTestServer::~PgTestServer()
{
    if (m_running) {
        try {
            run(m_binDir + QStringLiteral("/pg_ctl"),
                {QStringLiteral("stop"), QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")),
                 QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w")},
                true);
        } catch (const std::exception&) {
        }
    }
}

QString PgTestServer::socketDir() const
{
    return m_dir->path();
}

QString PgTestServer::conninfo(const QString& db, const QString& user) const
{
    return QStringLiteral("host=%1 port=%2 dbname=%3 user=%4")
        .arg(quoteConninfo(socketDir()))
        .arg(m_port)
        .arg(quoteConninfo(db), quoteConninfo(user.isEmpty() ? superuser() : user));
}

QString PgTestServer::uri(const QString& db, const QString& user) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3&port=%4")
        .arg(QString::fromUtf8(QUrl::toPercentEncoding(user.isEmpty() ? superuser() : user)),
             QString::fromUtf8(QUrl::toPercentEncoding(db)),
             QString::fromUtf8(QUrl::toPercentEncoding(socketDir())), QString::number(m_port));
}

void PgTestServer::createDatabase(const QString& name)
{
    psql(QStringLiteral("CREATE DATABASE \"%1\"").arg(QString(name).replace(u'"', QStringLiteral("\"\""))),
         QStringLiteral("postgres"));
}

QString PgTestServer::psql(const QString& sql, const QString& db) const
{
    return run(QStringLiteral("psql"),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), conninfo(db),
                QStringLiteral("-c"), sql},
               false)
        .trimmed();
}

void PgTestServer::stop()
{
    if (!m_running)
        return;
    run(m_binDir + QStringLiteral("/pg_ctl"),
        {QStringLiteral("stop"), QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")),
         QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w")},
        true);
    m_running = false;
}

void PgTestServer::kill()
{
    if (!m_running)
        return;
    QFile pidFile(m_dir->filePath(QStringLiteral("data/postmaster.pid")));
    if (!pidFile.open(QIODevice::ReadOnly))
        throw std::runtime_error("the server has no postmaster.pid");
    const pid_t pid = pid_t(pidFile.readLine().trimmed().toLong());
    if (pid <= 0 || ::kill(pid, SIGKILL) != 0)
        throw std::runtime_error("cannot kill the server");
    // Its backends end as soon as they notice; the postmaster itself is gone at once.
    for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i)
        ::usleep(10000);
    m_running = false;
}

void PgTestServer::start()
{
    if (m_running)
        return;
    QString options = QStringLiteral("-c listen_addresses='' -k %1 -p %2 -c fsync=off -c max_connections=100")
                          .arg(socketDir())
                          .arg(m_port);
    for (const QString& setting : m_options.settings)
        options += QStringLiteral(" -c ") + setting;
    run(m_binDir + QStringLiteral("/pg_ctl"),
        {QStringLiteral("start"), QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")),
         QStringLiteral("-l"), m_dir->filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
         QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"), options},
        true);
    m_running = true;
}

QString PgTestServer::run(const QString& program, const QStringList& args, bool asServerUser) const
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The caller's own libpq settings must not steer the tools to another server.
    for (const char* name : {"PGHOST", "PGHOSTADDR", "PGPORT", "PGDATABASE", "PGUSER", "PGSERVICE",
                             "PGSERVICEFILE", "PGPASSFILE", "PGOPTIONS", "PGSSLMODE"})
        env.remove(QString::fromLatin1(name));
    if (m_options.requirePassword)
        env.insert(QStringLiteral("PGPASSWORD"), QString::fromLatin1(kSuperuserPassword));
    else
        env.remove(QStringLiteral("PGPASSWORD"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(m_dir->path());
    if (asServerUser && isRoot())
        process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                                             QStringLiteral("--"), program} +
                                                     args);
    else
        process.start(program, args);
    if (!process.waitForFinished(kToolTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        QString message =
            QStringLiteral("%1 failed: %2%3")
                .arg(QFileInfo(program).fileName(), QString::fromLocal8Bit(process.readAllStandardError()),
                     QString::fromLocal8Bit(process.readAllStandardOutput()));
        const QString log = m_dir->filePath(QStringLiteral("server.log"));
        QFile logFile(log);
        if (program.endsWith(QStringLiteral("pg_ctl")) && logFile.open(QIODevice::ReadOnly))
            message +=
                QStringLiteral("\nserver log:\n") + QString::fromLocal8Bit(logFile.readAll().right(2000));
        throw std::runtime_error(message.toStdString());
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}
