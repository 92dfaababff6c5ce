#include "attendance/LocalStore.h"

#include "attendance/SwipeWindow.h"

#include "query/ConnectionString.h"
#include "query/DatabaseTarget.h"
#include "query/DateTimeValue.h"
#include "query/DbColumnInfo.h"
#include "sqlite/SqliteError.h"
#include "sqlite/SqliteDatabase.h"
#include "sqlite/SqliteStatement.h"
#include "platform/AppPaths.h"
#include "platform/DatabaseError.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kBusyTimeoutMs = 10000;

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, num TEXT NOT NULL, "
    "name TEXT, d INTEGER NOT NULL, t INTEGER NOT NULL, opdate TEXT NOT NULL, instant INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS outbox_num_instant ON outbox (num, instant)",
    "CREATE TABLE IF NOT EXISTS store_target (text TEXT)",
    // Keeps the outbox id: the order the swipes were taken in.
    "CREATE TABLE IF NOT EXISTS refused (id INTEGER PRIMARY KEY, num TEXT NOT NULL, name TEXT, "
    "d INTEGER NOT NULL, t INTEGER NOT NULL, opdate TEXT NOT NULL, instant INTEGER NOT NULL, "
    "reason TEXT NOT NULL)",
};

StoredSwipe readSwipe(const SqliteStatement& row)
{
    StoredSwipe swipe;
    swipe.id = row.columnInt64(0);
    swipe.num = row.columnText(1);
    swipe.name = row.columnText(2);
    swipe.date = DateTimeValue(row.columnInt64(3)).toDateTime().date();
    swipe.time = QTime(0, 0).addSecs(int(row.columnInt64(4)));
    swipe.opdate = row.columnText(5);
    return swipe;
}

const char kSwipeColumns[] = "id, num, name, d, t, opdate";

} // namespace

LocalStore::LocalStore(const QString& filePath, Access access)
    : m_path(QFileInfo(filePath).absoluteFilePath()), m_readOnly(access == Access::ReadOnly)
{
    if (m_readOnly) {
        m_db = std::make_unique<SqliteDatabase>(m_path, true, SqliteDatabase::Links::Refuse);
        m_db->setBusyTimeout(kBusyTimeoutMs);
        return;
    }
    open();
}

std::optional<LocalStore::FileIdentity> LocalStore::identityOf(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

void LocalStore::open()
{
    m_db.reset();
    const QByteArray name = QFile::encodeName(m_path);
    if (!identityOf(m_path)) {
        if (!AppPaths::createParentFolder(m_path))
            throw DatabaseError(QStringLiteral("Cannot create the folder of '%1'.").arg(m_path));
        // An empty file is a new database to SQLite. It holds names: its owner's alone.
        // O_EXCL also refuses a symbolic link planted under the name.
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::fchmod(fd, 0600);
            ::close(fd);
        } else if (errno != EEXIST) {
            throw DatabaseError(QStringLiteral("Cannot create '%1': %2.")
                                    .arg(m_path, QString::fromLocal8Bit(std::strerror(errno))));
        }
    }
    try {
        openExisting();
    } catch (const SqliteError& error) {
        if (error.trouble() != DatabaseError::Trouble::Damaged)
            throw;
        // Whatever is still readable in it is kept for inspection; the terminal goes on
        // with a new store rather than losing every swipe made while the server is away.
        moveAside();
        open();
    }
}

void LocalStore::openExisting()
{
    m_db = std::make_unique<SqliteDatabase>(m_path, false, SqliteDatabase::Links::Refuse);
    m_identity = identityOf(m_path);
    m_db->setBusyTimeout(kBusyTimeoutMs);
    // With write-ahead logging a commit is one append and one sync of the log; FULL syncs
    // it at every commit, so a queued swipe survives a crash or power cut once queued.
    exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    exec(QStringLiteral("PRAGMA synchronous=FULL"));
    {
        SqliteStatement check(m_db->handle(), QStringLiteral("PRAGMA quick_check"));
        if (!check.step() || check.columnText(0) != QStringLiteral("ok"))
            throw SqliteError::damaged(QStringLiteral("The local store '%1' is damaged.").arg(m_path));
    }
    WriteTransaction transaction(*this);
    for (const char* statement : kSchema)
        exec(QString::fromUtf8(statement));
    transaction.commit();
}

void LocalStore::moveAside()
{
    m_db.reset();
    QString aside = m_path + QStringLiteral(".damaged");
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = m_path + QStringLiteral(".damaged.%1").arg(n);
    if (::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(aside).constData()) != 0)
        throw DatabaseError(QStringLiteral("The local store '%1' is damaged and cannot be moved aside: %2.")
                                .arg(m_path, QString::fromLocal8Bit(std::strerror(errno))));
    // The log belongs to the damaged file; the index of shared memory is rebuilt.
    QFile::rename(m_path + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(m_path + QStringLiteral("-shm"));
    m_movedAside = aside;
}

int LocalStore::revalidate(bool carryOver)
{
    if (m_readOnly)
        return 0;
    const std::optional<FileIdentity> now = identityOf(m_path);
    if (now && m_identity && *now == *m_identity)
        return 0;
    std::vector<StoredSwipe> waiting;
    if (carryOver && m_db) {
        try {
            waiting = oldest(std::numeric_limits<int>::max());
        } catch (const DatabaseError&) {
            // What the old file still holds cannot be read: only the new swipes are kept.
        }
    }
    open();
    if (waiting.empty())
        return 0;
    int carried = 0;
    WriteTransaction transaction(*this);
    for (const StoredSwipe& swipe : waiting) {
        // Another handle on the store (the forwarder's) may have carried it over already.
        if (isWaiting(swipe.num, swipe.instant()))
            continue;
        enqueue(swipe);
        ++carried;
    }
    transaction.commit();
    return carried;
}

LocalStore::~LocalStore() = default;

QString LocalStore::displayText(const QString& connectionString)
{
    try {
        const ConnectionString parts(connectionString);
        const QString source = parts.value(QStringLiteral("Data Source"));
        return parts.namesServer() ? DatabaseTarget::parse(source).displayText() : source;
    } catch (const DatabaseError&) {
        return {};
    }
}

QString LocalStore::pathFor(const QString& connectionString)
{
    const QByteArray hash =
        QCryptographicHash::hash(displayText(connectionString).toUtf8(), QCryptographicHash::Sha256);
    return AppPaths::stateDir() + QStringLiteral("store-") + QString::fromLatin1(hash.toHex().left(16)) +
           QStringLiteral(".sqlite");
}

void LocalStore::exec(const QString& sql)
{
    m_db->exec(sql);
}

QString LocalStore::target() const
{
    SqliteStatement select(m_db->handle(), QStringLiteral("SELECT text FROM store_target"));
    return select.step() ? select.columnText(0) : QString();
}

void LocalStore::setTarget(const QString& text)
{
    if (target() == text)
        return;
    WriteTransaction transaction(*this);
    exec(QStringLiteral("DELETE FROM store_target"));
    SqliteStatement insert(m_db->handle(), QStringLiteral("INSERT INTO store_target (text) VALUES (?)"));
    insert.bindText(1, text);
    insert.step();
    transaction.commit();
}

bool LocalStore::hasEmployeeCopy() const
{
    SqliteStatement select(
        m_db->handle(), QStringLiteral("SELECT 1 FROM sqlite_schema WHERE type='table' AND name='employ'"));
    return select.step();
}

void LocalStore::replaceEmployeeCopy(const EmployeeCopy& copy)
{
    const qsizetype columns = copy.columns.size();
    if (columns == 0)
        return;
    QStringList definitions;
    for (qsizetype c = 0; c < columns; ++c) {
        const int width = c < copy.widths.size() ? copy.widths.at(c) : 0;
        definitions.append(DbColumnInfo::quotedName(copy.columns.at(c)) +
                           (width > 0 ? QStringLiteral(" VARCHAR(%1)").arg(width) : QStringLiteral(" TEXT")));
    }
    QStringList markers;
    for (qsizetype c = 0; c < columns; ++c)
        markers.append(QStringLiteral("?"));

    WriteTransaction transaction(*this);
    exec(QStringLiteral("DROP TABLE IF EXISTS employ"));
    exec(QStringLiteral("CREATE TABLE employ (%1)").arg(definitions.join(QStringLiteral(", "))));
    SqliteStatement insert(m_db->handle(),
                           QStringLiteral("INSERT INTO employ VALUES (%1)").arg(markers.join(u',')));
    for (qsizetype at = 0; at + columns <= copy.values.size(); at += columns) {
        for (qsizetype c = 0; c < columns; ++c) {
            const QString& value = copy.values.at(at + c);
            if (value.isNull())
                insert.bindNull(int(c + 1));
            else
                insert.bindText(int(c + 1), value);
        }
        insert.step();
        insert.reset();
    }
    transaction.commit();
}

LocalStore::WriteTransaction::WriteTransaction(LocalStore& store) : m_store(store)
{
    m_store.exec(QStringLiteral("BEGIN IMMEDIATE"));
}

LocalStore::WriteTransaction::~WriteTransaction()
{
    if (m_done)
        return;
    try {
        m_store.exec(QStringLiteral("ROLLBACK"));
    } catch (...) {
        // SQLite has undone the transaction already when the rollback itself fails.
    }
}

void LocalStore::WriteTransaction::commit()
{
    m_store.exec(QStringLiteral("COMMIT"));
    m_done = true;
}

std::optional<StoredSwipe> LocalStore::waitingWithin(const QString& num, const QDateTime& from,
                                                     const QDateTime& to) const
{
    SqliteStatement select(
        m_db->handle(),
        QStringLiteral("SELECT %1 FROM outbox WHERE num = ? AND %2 ORDER BY id LIMIT 1")
            .arg(QLatin1String(kSwipeColumns), SwipeWindow::sqlHolds(u"instant", u"?", u"?")));
    select.bindText(1, num);
    select.bindInt64(2, DateTimeValue::fromDateTime(from).seconds());
    select.bindInt64(3, DateTimeValue::fromDateTime(to).seconds());
    if (!select.step())
        return std::nullopt;
    return readSwipe(select);
}

bool LocalStore::isWaiting(const QString& num, const QDateTime& instant) const
{
    SqliteStatement select(m_db->handle(),
                           QStringLiteral("SELECT 1 FROM outbox WHERE num = ? AND instant = ?"));
    select.bindText(1, num);
    select.bindInt64(2, DateTimeValue::fromDateTime(instant).seconds());
    return select.step();
}

qint64 LocalStore::enqueue(const StoredSwipe& swipe)
{
    SqliteStatement insert(m_db->handle(),
                           QStringLiteral("INSERT INTO outbox (num, name, d, t, opdate, instant) "
                                          "VALUES (?, ?, ?, ?, ?, ?)"));
    const qint64 d = DateTimeValue::fromDate(swipe.date).seconds();
    const qint64 t = DateTimeValue::fromTime(swipe.time).seconds();
    insert.bindText(1, swipe.num);
    insert.bindText(2, swipe.name);
    insert.bindInt64(3, d);
    insert.bindInt64(4, t);
    insert.bindText(5, swipe.opdate);
    insert.bindInt64(6, d + t);
    insert.step();
    return m_db->lastInsertRowId();
}

std::vector<StoredSwipe> LocalStore::oldest(int limit) const
{
    SqliteStatement select(
        m_db->handle(),
        QStringLiteral("SELECT %1 FROM outbox ORDER BY id LIMIT ?").arg(QLatin1String(kSwipeColumns)));
    select.bindInt64(1, limit);
    std::vector<StoredSwipe> result;
    while (select.step())
        result.push_back(readSwipe(select));
    return result;
}

void LocalStore::remove(qint64 id)
{
    SqliteStatement erase(m_db->handle(), QStringLiteral("DELETE FROM outbox WHERE id = ?"));
    erase.bindInt64(1, id);
    erase.step();
}

int LocalStore::waitingCount() const
{
    SqliteStatement count(m_db->handle(), QStringLiteral("SELECT count(*) FROM outbox"));
    count.step();
    return int(count.columnInt64(0));
}

void LocalStore::setAside(qint64 id, const QString& reason)
{
    WriteTransaction transaction(*this);
    SqliteStatement copy(
        m_db->handle(),
        QStringLiteral("INSERT OR REPLACE INTO refused (id, num, name, d, t, opdate, instant, reason) "
                       "SELECT id, num, name, d, t, opdate, instant, ? FROM outbox WHERE id = ?"));
    copy.bindText(1, reason);
    copy.bindInt64(2, id);
    copy.step();
    remove(id);
    transaction.commit();
}

std::vector<LocalStore::RefusedSwipe> LocalStore::refused() const
{
    SqliteStatement select(
        m_db->handle(),
        QStringLiteral("SELECT %1, reason FROM refused ORDER BY id").arg(QLatin1String(kSwipeColumns)));
    std::vector<RefusedSwipe> result;
    while (select.step())
        result.push_back({readSwipe(select), select.columnText(6)});
    return result;
}

int LocalStore::refusedCount() const
{
    SqliteStatement count(m_db->handle(), QStringLiteral("SELECT count(*) FROM refused"));
    count.step();
    return int(count.columnInt64(0));
}

void LocalStore::removeRefused(qint64 id)
{
    SqliteStatement erase(m_db->handle(), QStringLiteral("DELETE FROM refused WHERE id = ?"));
    erase.bindInt64(1, id);
    erase.step();
}

void LocalStore::updateRefusal(qint64 id, const QString& reason)
{
    SqliteStatement update(m_db->handle(), QStringLiteral("UPDATE refused SET reason = ? WHERE id = ?"));
    update.bindText(1, reason);
    update.bindInt64(2, id);
    update.step();
}

void LocalStore::remove(const std::vector<qint64>& ids)
{
    WriteTransaction transaction(*this);
    SqliteStatement erase(m_db->handle(), QStringLiteral("DELETE FROM outbox WHERE id = ?"));
    for (const qint64 id : ids) {
        erase.bindInt64(1, id);
        erase.step();
        erase.reset();
    }
    transaction.commit();
}
