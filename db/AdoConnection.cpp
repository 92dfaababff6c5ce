#include "db/AdoConnection.h"

#include "db/ConnectionString.h"
#include "db/SqliteDatabase.h"
#include "platform/EOleException.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

const QString kJetProvider = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
constexpr int kBusyTimeoutMs = 5000;

[[noreturn]] void cannotOpen(const QString& path, const QString& cause)
{
    throw EOleException(QStringLiteral("Cannot open database file '%1': %2").arg(path, cause));
}

// Refuses everything that is not an existing SQLite file before SQLite sees it: SQLite
// would create a missing file, and treats an empty file as a new database it may write.
void vetDatabaseFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        // Only a name that leads nowhere is a missing file; a symbolic link loop or a
        // folder on the way that cannot be searched is reported for what it is.
        struct stat st;
        const int code = ::stat(QFile::encodeName(path).constData(), &st) == 0 ? 0 : errno;
        if (code == 0 || code == ENOENT || code == ENOTDIR)
            throw EOleException(QStringLiteral("Could not find file '%1'.").arg(path));
        cannotOpen(path, QString::fromLocal8Bit(std::strerror(code)) + u'.');
    }
    if (info.isDir())
        cannotOpen(path, QStringLiteral("it is a folder, not a database file."));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        cannotOpen(path, file.errorString() + u'.');
    const QByteArray header = file.read(100);
    const QByteArray product = header.mid(4, 15);
    if (product == "Standard Jet DB" || product == "Standard ACE DB")
        cannotOpen(path, QStringLiteral("it is a Microsoft Access database; this platform opens SQLite "
                                        "development databases only."));
    if (!header.startsWith(QByteArray("SQLite format 3\0", 16)))
        cannotOpen(path, QStringLiteral("the file is not an SQLite database."));
}

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
    if (m_db)
        return;
    const ConnectionString parts(m_connectionString);
    if (parts.value(QStringLiteral("Provider")).compare(kJetProvider, Qt::CaseInsensitive) != 0)
        throw EOleException(QStringLiteral("Provider cannot be found. It may not be properly installed."));
    const QString path = parts.value(QStringLiteral("Data Source"));
    if (path.isEmpty())
        throw EOleException(QStringLiteral("Could not find file ''."));
    vetDatabaseFile(path);

    const QFileInfo info(path);
    const bool readOnly =
        m_mode == Mode::Read || modeIsReadOnly(parts.value(QStringLiteral("Mode"))) || !info.isWritable();
    // An absolute path never starts with "file:", so SQLite cannot read it as a URI with
    // options such as mode=rwc.
    std::unique_ptr<SqliteDatabase> db;
    try {
        db = std::make_unique<SqliteDatabase>(info.absoluteFilePath(), readOnly);
        sqlite3_busy_timeout(db->handle(), kBusyTimeoutMs);
        // In the rollback journal mode several processes can share, FULL syncs the file and
        // the journal but not the folder after the journal is deleted: a power cut then
        // could bring the journal back and roll an acknowledged commit back with it.
        db->exec(QStringLiteral("PRAGMA synchronous=EXTRA"));
        // Reading the schema is the first access that proves the file is a usable database.
        db->exec(QStringLiteral("SELECT count(*) FROM sqlite_schema"));
    } catch (const EOleException& e) {
        cannotOpen(path, e.message());
    }
    m_db = std::move(db);
}

void AdoConnection::close()
{
    if (!m_db)
        return;
    emit aboutToClose();
    m_db.reset();
}

sqlite3* AdoConnection::handle()
{
    open();
    return m_db->handle();
}

QString AdoConnection::dataSource() const
{
    try {
        return ConnectionString(m_connectionString).value(QStringLiteral("Data Source"));
    } catch (const EOleException&) {
        return {};
    }
}

bool AdoConnection::isReadOnly() const
{
    return m_db && m_db->isReadOnly();
}

void AdoConnection::execute(const QString& sql)
{
    open();
    m_db->exec(sql);
}
