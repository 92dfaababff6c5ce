#include "query/AdoConnection.h"

#include "query/DatabaseTarget.h"

#include "platform/DatabaseError.h"
#include "query/BackendFactory.h"
#include "query/ConnectionString.h"
#include "query/DbBackend.h"

namespace {

bool modeIsReadOnly(const QString& text)
{
    bool read = false;
    bool write = false;
    for (const QString& part : text.split(u'|')) {
        const QString word = part.trimmed();
        if (word.compare(u"Read", Qt::CaseInsensitive) == 0)
            read = true;
        else if (word.compare(u"Write", Qt::CaseInsensitive) == 0 ||
                 word.compare(u"ReadWrite", Qt::CaseInsensitive) == 0)
            write = true;
    }
    return read && !write;
}

[[noreturn]] void providerMissing()
{
    throw DatabaseError(QStringLiteral("Provider cannot be found. It may not be properly installed."));
}

} // namespace

AdoConnection::AdoConnection(QObject* parent) : QObject(parent) {}

AdoConnection::~AdoConnection()
{
    close();
}

void AdoConnection::setConnectionString(const QString& text)
{
    m_connectionString = text;
}

void AdoConnection::setConnected(bool connected)
{
    if (connected)
        open();
    else
        close();
}

void AdoConnection::open()
{
    if (m_backend)
        return;
    const ConnectionString parts(m_connectionString);
    const QString provider = parts.value(QStringLiteral("Provider"));
    const QString source = parts.value(QStringLiteral("Data Source"));
    if (provider.compare(ConnectionString::kSqliteFileProvider, Qt::CaseInsensitive) == 0) {
        if (source.isEmpty())
            throw DatabaseError(QStringLiteral("Could not find file ''."),
                                DatabaseError::Trouble::MissingFile);
        const bool readOnly = m_mode == Mode::Read || modeIsReadOnly(parts.value(QStringLiteral("Mode")));
        m_backend = BackendFactory::openFile(source, readOnly);
    } else if (parts.namesServer()) {
        m_backend = BackendFactory::openServer(source, m_networkTimeoutMs);
    } else {
        providerMissing();
    }
    // A file waits for another program's lock as long as its back end does unless told
    // otherwise; a server was given its bound when it was opened.
    if (m_networkTimeoutChosen)
        m_backend->setNetworkTimeout(m_networkTimeoutMs);
    if (m_openCheck) {
        try {
            m_openCheck(*m_backend);
        } catch (...) {
            m_backend.reset();
            throw;
        }
    }
}

void AdoConnection::setOpenCheck(std::function<void(DbBackend&)> check)
{
    m_openCheck = std::move(check);
    if (m_backend && m_openCheck) {
        try {
            m_openCheck(*m_backend);
        } catch (...) {
            close();
            throw;
        }
    }
}

bool AdoConnection::prepare(const DatabaseTarget& target)
{
    bool result = target.isValid();
    try {
        setConnected(false);
        setConnectionString(target.connectionString());
        setCursorLocation(CursorLocation::Client);
        setLoginPrompt(false);
        setMode(Mode::ReadWrite);
    } catch (const std::exception&) {
        result = false;
    }
    return result;
}

void AdoConnection::close()
{
    if (!m_backend)
        return;
    emit aboutToClose();
    m_backend.reset();
}

DbBackend& AdoConnection::backend()
{
    open();
    return *m_backend;
}

QString AdoConnection::dataSource() const
{
    try {
        return ConnectionString(m_connectionString).value(QStringLiteral("Data Source"));
    } catch (const DatabaseError&) {
        return {};
    }
}

bool AdoConnection::isReadOnly() const
{
    return m_backend && m_backend->isReadOnly();
}

void AdoConnection::execute(const QString& sql)
{
    backend().execute(sql);
}

void AdoConnection::revalidate()
{
    if (m_backend)
        m_backend->revalidate();
}

void AdoConnection::setNetworkTimeout(int ms)
{
    m_networkTimeoutMs = ms;
    m_networkTimeoutChosen = true;
    if (m_backend)
        m_backend->setNetworkTimeout(ms);
}

std::optional<QDateTime> AdoConnection::serverClock()
{
    return backend().serverClock();
}
