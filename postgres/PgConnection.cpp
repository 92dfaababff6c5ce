#include "postgres/PgConnection.h"

#include "platform/DatabaseError.h"
#include "platform/ServerUnreachable.h"

#include <QDeadlineTimer>
#include <QList>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <libpq-fe.h>
#include <poll.h>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Waits until the socket is ready for the events: false when ms passed first (ms < 0: no
// bound).
bool waitOn(int socket, short events, qint64 ms)
{
    if (socket < 0)
        return false;
    QDeadlineTimer deadline = ms >= 0 ? QDeadlineTimer(ms) : QDeadlineTimer(QDeadlineTimer::Forever);
    for (;;) {
        pollfd descriptor{socket, events, 0};
        const qint64 remaining = deadline.remainingTime();
        const int ready = ::poll(&descriptor, 1, remaining < 0 ? -1 : int(remaining));
        if (ready > 0)
            return true;
        if (ready == 0)
            return false;
        if (errno != EINTR)
            return true; // let libpq meet the error on the socket
    }
}

// A connection's settings as libpq resolved them (the text, a service file, the PG...
// environment and its defaults), keyword and value, set ones only.
using Settings = std::vector<std::pair<QByteArray, QByteArray>>;

Settings settingsOf(PGconn* conn)
{
    Settings settings;
    if (PQconninfoOption* options = PQconninfo(conn)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (o->val)
                settings.emplace_back(o->keyword, o->val);
        PQconninfoFree(options);
    }
    return settings;
}

QByteArray settingOf(const Settings& settings, const char* keyword)
{
    for (const auto& [key, value] : settings)
        if (key == keyword)
            return value;
    return {};
}

// The value the text itself, or else the environment, gives a keyword; empty when neither.
QByteArray givenValue(const QByteArray& conninfo, const char* keyword, const char* environment)
{
    QByteArray value;
    char* error = nullptr;
    if (PQconninfoOption* options = PQconninfoParse(conninfo.constData(), &error)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (qstrcmp(o->keyword, keyword) == 0 && o->val)
                value = o->val;
        PQconninfoFree(options);
    }
    PQfreemem(error);
    if (value.isEmpty())
        value = qgetenv(environment);
    return value;
}

QList<QByteArray> listOf(const QByteArray& value)
{
    return value.isEmpty() ? QList<QByteArray>() : value.split(',');
}

} // namespace

PgConnection::PgConnection(const QString& conninfo, int networkTimeoutMs)
    : m_conninfo(conninfo.toUtf8()), m_timeoutMs(networkTimeoutMs)
{
    char* error = nullptr;
    if (PQconninfoOption* options = PQconninfoParse(m_conninfo.constData(), &error)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (qstrcmp(o->keyword, "password") == 0 && o->val)
                m_password = o->val;
        PQconninfoFree(options);
    }
    PQfreemem(error);
}

PgConnection::~PgConnection()
{
    PQfinish(m_conn);
}

void PgConnection::close()
{
    PQfinish(m_conn);
    m_conn = nullptr;
}

void PgConnection::checkUsable() const
{
    if (m_transactionLost)
        throw ServerUnreachable(QStringLiteral("The connection to the database server was lost."));
}

void PgConnection::dropIfClosedByPeer()
{
    if (!m_conn || m_inTransaction)
        return;
    // An idle connection has nothing to read unless the other end said goodbye (or sent a
    // notice, which libpq takes in and the connection stays).
    pollfd descriptor{PQsocket(m_conn), POLLIN, 0};
    if (::poll(&descriptor, 1, 0) <= 0)
        return;
    if (!PQconsumeInput(m_conn) || PQstatus(m_conn) == CONNECTION_BAD)
        close();
}

QString PgConnection::timeoutText() const
{
    return QStringLiteral("The database server did not answer within %1 ms.").arg(m_timeoutMs);
}

QString PgConnection::redacted(QString text) const
{
    if (!m_password.isEmpty())
        text.replace(QString::fromUtf8(m_password), QStringLiteral("********"));
    return text.trimmed();
}

void PgConnection::lost(const QString& why)
{
    close();
    if (m_inTransaction) {
        m_inTransaction = false;
        m_transactionLost = true;
    }
    throw ServerUnreachable(redacted(why));
}

bool PgConnection::waitFor(short events)
{
    return waitOn(PQsocket(m_conn), events, m_timeoutMs > 0 ? m_timeoutMs : -1);
}

bool PgConnection::finishConnect(PGconn* conn, int boundMs, QString* failure, bool* refused)
{
    *refused = false;
    if (!conn) {
        *failure = QStringLiteral("Cannot connect to the database server: out of memory.");
        return false;
    }
    const QDeadlineTimer hostDeadline(boundMs);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (PQstatus(conn) != CONNECTION_BAD && state != PGRES_POLLING_OK && state != PGRES_POLLING_FAILED) {
        const qint64 left = hostDeadline.remainingTime();
        const bool perWait = m_timeoutMs > 0 && m_timeoutMs < left;
        if (!waitOn(PQsocket(conn), state == PGRES_POLLING_READING ? POLLIN : POLLOUT,
                    perWait ? m_timeoutMs : left)) {
            *failure = QStringLiteral("The database server did not answer within %1 ms.")
                           .arg(perWait ? m_timeoutMs : boundMs);
            return false;
        }
        state = PQconnectPoll(conn);
    }
    if (PQstatus(conn) == CONNECTION_OK)
        return true;
    const QString message = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    // The server answered and refused: a wrong password, an unknown database or role,
    // no entry that admits this client. Trying again does not help; everything else
    // (refused, unknown host, no route, a server starting or going down, a standby where
    // a primary is wanted) may pass.
    *refused = PQconnectionNeedsPassword(conn) || PQconnectionUsedPassword(conn) ||
               message.contains(u"does not exist") || message.contains(u"pg_hba.conf");
    *failure = message;
    return false;
}

void PgConnection::open()
{
    // Later keywords win over those inside the expanded text: the terminal's texts are UTF-8.
    const char* const keys[] = {"fallback_application_name", "dbname", "client_encoding", nullptr};
    const char* const values[] = {"tavelo", m_conninfo.constData(), "UTF8", nullptr};
    PGconn* first = PQconnectStartParams(keys, values, 1);
    if (!first)
        throw ServerUnreachable(QStringLiteral("Cannot connect to the database server: out of memory."));

    const Settings settings = settingsOf(first);
    const int givenTimeout = settingOf(settings, "connect_timeout").toInt();
    // libpq's own rule: whole seconds, at least two.
    const int hostBoundMs = givenTimeout > 0 ? qMax(givenTimeout, 2) * 1000 : kDefaultHostTimeoutMs;
    const QList<QByteArray> hosts = listOf(settingOf(settings, "host"));
    const QList<QByteArray> addresses = listOf(settingOf(settings, "hostaddr"));
    const QList<QByteArray> ports = listOf(settingOf(settings, "port"));
    const qsizetype hostCount = qMax(hosts.size(), addresses.size());

    QStringList failures;
    bool everyHostRefused = true;
    if (hostCount <= 1) {
        QString failure;
        bool refused = false;
        if (finishConnect(first, hostBoundMs, &failure, &refused)) {
            m_conn = first;
        } else {
            PQfinish(first);
            failures.append(failure);
            everyHostRefused = refused;
        }
    } else {
        // libpq, left to itself, waits on a host that does not answer for as long as the
        // whole bound and never gets to the next one. So each host is tried on its own,
        // in turn, for its own bounded time. A terminal writes: unless the target says
        // otherwise, only a server that takes writes will do (a standby is skipped until
        // it is promoted).
        PQfinish(first);
        QByteArray wanted = givenValue(m_conninfo, "target_session_attrs", "PGTARGETSESSIONATTRS");
        if (wanted.isEmpty())
            wanted = "read-write";
        const QList<QByteArray> passes =
            wanted == "prefer-standby" ? QList<QByteArray>{"standby", "any"} : QList<QByteArray>{wanted};
        for (const QByteArray& pass : passes) {
            for (qsizetype i = 0; i < hostCount && !m_conn; ++i) {
                std::vector<QByteArray> hostKeys;
                std::vector<QByteArray> hostValues;
                for (const auto& [key, value] : settings) {
                    if (key == "host" || key == "hostaddr" || key == "port" ||
                        key == "target_session_attrs" || key == "client_encoding")
                        continue;
                    hostKeys.push_back(key);
                    hostValues.push_back(value);
                }
                const auto add = [&](const char* key, const QByteArray& value) {
                    hostKeys.push_back(key);
                    hostValues.push_back(value);
                };
                if (i < hosts.size() && !hosts.at(i).isEmpty())
                    add("host", hosts.at(i));
                if (i < addresses.size() && !addresses.at(i).isEmpty())
                    add("hostaddr", addresses.at(i));
                if (ports.size() == 1)
                    add("port", ports.first());
                else if (i < ports.size() && !ports.at(i).isEmpty())
                    add("port", ports.at(i));
                add("target_session_attrs", pass);
                add("client_encoding", "UTF8");
                std::vector<const char*> k;
                std::vector<const char*> v;
                for (size_t n = 0; n < hostKeys.size(); ++n) {
                    k.push_back(hostKeys[n].constData());
                    v.push_back(hostValues[n].constData());
                }
                k.push_back(nullptr);
                v.push_back(nullptr);
                PGconn* conn = PQconnectStartParams(k.data(), v.data(), 0);
                QString failure;
                bool refused = false;
                if (finishConnect(conn, hostBoundMs, &failure, &refused)) {
                    m_conn = conn;
                    break;
                }
                PQfinish(conn);
                const QByteArray name = i < hosts.size() && !hosts.at(i).isEmpty() ? hosts.at(i)
                                        : i < addresses.size()                     ? addresses.at(i)
                                                                                   : QByteArray();
                failures.append(QStringLiteral("%1: %2").arg(QString::fromUtf8(name), failure.simplified()));
                everyHostRefused = everyHostRefused && refused;
            }
            if (m_conn)
                break;
        }
    }
    if (!m_conn) {
        const QString message = failures.join(u' ');
        if (everyHostRefused)
            throw DatabaseError(redacted(message));
        throw ServerUnreachable(redacted(message));
    }
    PQsetnonblocking(m_conn, 1);
}

void PgConnection::cancelOnServer()
{
    // The server would go on waiting (for a lock, say) on behalf of a client that gave up,
    // one backend more at every try. A cancel request ends the statement and with it the
    // wait. libpq's cancel blocks until the server took the request, so it runs on a
    // thread of its own: a network that swallows it holds only that thread, and never
    // more than a few of them at once.
    static std::atomic<int> inFlight{0};
    if (!m_conn || PQtransactionStatus(m_conn) != PQTRANS_ACTIVE || inFlight.load() >= 4)
        return;
    PGcancel* cancel = PQgetCancel(m_conn);
    if (!cancel)
        return;
    ++inFlight;
    std::thread([cancel] {
        char error[256];
        PQcancel(cancel, error, int(sizeof(error)));
        PQfreeCancel(cancel);
        --inFlight;
    }).detach();
}

void PgConnection::sendFailed()
{
    const QString message = QString::fromUtf8(PQerrorMessage(m_conn));
    if (PQstatus(m_conn) == CONNECTION_BAD)
        lost(message);
    throw DatabaseError(redacted(message));
}

void PgConnection::flushSent(bool cancelOnTimeout)
{
    for (;;) {
        const int flushed = PQflush(m_conn);
        if (flushed == 0)
            return;
        if (flushed < 0)
            lost(QString::fromUtf8(PQerrorMessage(m_conn)));
        if (!waitFor(POLLIN | POLLOUT)) {
            if (cancelOnTimeout)
                cancelOnServer();
            lost(timeoutText());
        }
        if (!PQconsumeInput(m_conn))
            lost(QString::fromUtf8(PQerrorMessage(m_conn)));
    }
}
