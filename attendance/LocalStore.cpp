#include "attendance/LocalStore.h"

#include "attendance/SwipeWindow.h"
#include "platform/AppPaths.h"
#include "platform/DatabaseError.h"
#include "platform/SettingsStore.h"

#include "query/ConnectionString.h"
#include "query/DatabaseTarget.h"
#include "query/DateTimeValue.h"
#include "query/DbColumnInfo.h"
#include "query/Statements.h"
#include "sqlite/SqliteDatabase.h"
#include "sqlite/SqliteError.h"
#include "sqlite/SqliteStatement.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <limits>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Binds a swipe's num, name, d, t, opdate and instant to the first six parameters, the
// columns both the outbox and the confirmed table start with.
void bindSwipe(SqliteStatement& statement, const StoredSwipe& swipe)
{
    const qint64 d = DateTimeValue::fromDate(swipe.date).seconds();
    const qint64 t = DateTimeValue::fromTime(swipe.time).seconds();
    statement.bindText(1, swipe.num);
    statement.bindText(2, swipe.name);
    statement.bindInt64(3, d);
    statement.bindInt64(4, t);
    statement.bindText(5, swipe.opdate);
    statement.bindInt64(6, d + t);
}

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
    "CREATE TABLE IF NOT EXISTS confirmed (num TEXT NOT NULL, name TEXT, d INTEGER NOT NULL, "
    "t INTEGER NOT NULL, opdate TEXT NOT NULL, instant INTEGER NOT NULL, server TEXT NOT NULL, "
    "confirmed_at INTEGER NOT NULL, PRIMARY KEY (num, instant))",
    // Each confirmation lets go of what has been kept long enough: found without reading
    // every swipe kept.
    "CREATE INDEX IF NOT EXISTS confirmed_by_age ON confirmed (confirmed_at)",
    // A row once the store was compared with the ledger beside it: a store without one is
    // new (made now, or again after it was deleted) and is filled from the ledger.
    "CREATE TABLE IF NOT EXISTS compared (at INTEGER)",
};

const char kRetentionValueName[] = "retainConfirmedMinutes";

StoredSwipe readSwipe(const SqliteStatement& row)
{
    StoredSwipe swipe;
    swipe.id = row.columnInt64(0);
    swipe.num = row.columnText(1);
    swipe.name = row.columnText(2);
    swipe.date = DateTimeValue(row.columnInt64(3)).date();
    swipe.time = DateTimeValue(row.columnInt64(4)).timeOfDay();
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
    m_ledger = std::make_unique<SwipeLedger>(SwipeLedger::pathFor(m_path));
    open();
    verify();
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
        m_madeAfterDamage = true;
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
    if (now && m_identity && *now == *m_identity) {
        if (m_db && !identityOf(m_path + QStringLiteral("-wal"))) {
            // The log was deleted under the open handle, which still writes into it: what it
            // holds is written into the store now, before a restart loses it.
            try {
                exec(QStringLiteral("PRAGMA wal_checkpoint(FULL)"));
            } catch (const DatabaseError&) {
            }
            if (!m_logGoneSaid) {
                m_logGoneSaid = true;
                // Said once for the file, though the terminal holds two handles on it.
                static std::mutex mutex;
                static std::set<std::pair<quint64, quint64>> said;
                std::lock_guard lock(mutex);
                m_logGone = said.insert({now->device, now->inode}).second;
            }
        }
        return 0;
    }
    std::vector<StoredSwipe> waiting;
    if (carryOver && m_db) {
        try {
            waiting = oldest(std::numeric_limits<int>::max());
        } catch (const DatabaseError&) {
            // What the old file still holds cannot be read: only the new swipes are kept.
        }
    }
    open();
    // Filled from the ledger first, in one transaction, so that the other handles on the
    // store never find it half carried over; the old file's swipes the ledger lacked follow.
    verify();
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
    // In the table and columns the server has, so that the copy's cards are read with the
    // statement that reads them from the server.
    exec(QStringLiteral("DROP TABLE IF EXISTS card"));
    if (copy.cards) {
        exec(QStringLiteral("CREATE TABLE card (card TEXT NOT NULL, num TEXT NOT NULL)"));
        SqliteStatement card(m_db->handle(), QStringLiteral("INSERT INTO card (card, num) VALUES (?, ?)"));
        for (const auto& [number, holder] : *copy.cards) {
            card.bindText(1, number);
            card.bindText(2, holder);
            card.step();
            card.reset();
        }
    }
    transaction.commit();
}

LocalStore::WriteTransaction::WriteTransaction(LocalStore& store) : m_store(store)
{
    m_store.exec(QStringLiteral("BEGIN IMMEDIATE"));
    m_store.m_inTransaction = true;
    m_store.m_pendingLive.clear();
}

LocalStore::WriteTransaction::~WriteTransaction()
{
    if (m_done)
        return;
    m_store.m_inTransaction = false;
    m_store.m_pendingLive.clear();
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
    m_store.m_inTransaction = false;
    std::vector<SwipeLedger::Entry> live;
    live.swap(m_store.m_pendingLive);
    // The second copy, once the first is on the disk.
    m_store.noteLive(std::move(live));
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
    bindSwipe(insert, swipe);
    insert.step();
    const qint64 id = m_db->lastInsertRowId();
    noteLive({{SwipeLedger::State::Waiting, swipe, {}, 0}});
    return id;
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
    noteGone(selectSwipes(QStringLiteral("SELECT %1 FROM outbox WHERE id = ?"), id));
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
    noteGone(selectSwipes(QStringLiteral("SELECT %1 FROM refused WHERE id = ?"), id));
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
        noteGone(selectSwipes(QStringLiteral("SELECT %1 FROM outbox WHERE id = ?"), id));
        erase.bindInt64(1, id);
        erase.step();
        erase.reset();
    }
    transaction.commit();
}

int LocalStore::retentionMinutes()
{
    SettingsStore settings;
    if (!settings.openKey(DatabaseTarget::kKeyPath, false))
        return kDefaultRetentionMinutes;
    bool ok = false;
    const int minutes = settings.readString(QString::fromLatin1(kRetentionValueName)).toInt(&ok);
    // Zero turns the keeping off; a negative or unreadable value is taken as unset.
    return ok && minutes >= 0 ? minutes : kDefaultRetentionMinutes;
}

namespace {

// The insert of retained swipes, prepared once for all the swipes of a transaction.
class RetainedInsert
{
public:
    explicit RetainedInsert(SqliteDatabase& db)
        : m_insert(db.handle(),
                   QStringLiteral("INSERT OR REPLACE INTO confirmed (num, name, d, t, opdate, instant, "
                                  "server, confirmed_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"))
    {
    }
    void add(const StoredSwipe& swipe, const QString& server, qint64 confirmedAt)
    {
        bindSwipe(m_insert, swipe);
        m_insert.bindText(7, server);
        m_insert.bindInt64(8, confirmedAt);
        m_insert.step();
        m_insert.reset();
    }

private:
    SqliteStatement m_insert;
};

} // namespace

void LocalStore::retain(const std::vector<StoredSwipe>& swipes, const QString& server,
                        const QDateTime& confirmedAt)
{
    const int minutes = retentionMinutes();
    if (swipes.empty() || server.isEmpty() || minutes == 0)
        return;
    WriteTransaction transaction(*this);
    const qint64 at = DateTimeValue::fromDateTime(confirmedAt).seconds();
    std::vector<SwipeLedger::Entry> kept;
    RetainedInsert insert(*m_db);
    for (const StoredSwipe& swipe : swipes) {
        insert.add(swipe, server, at);
        kept.push_back({SwipeLedger::State::Confirmed, swipe, server, at});
    }
    forgetRetainedBefore(confirmedAt.addSecs(-qint64(minutes) * 60));
    noteLive(std::move(kept));
    transaction.commit();
}

void LocalStore::retainRecorded(const SwipeOutcome& outcome, const QDateTime& confirmedAt)
{
    if (outcome.kind != SwipeOutcome::Kind::Recorded || outcome.server.isEmpty())
        return;
    StoredSwipe swipe;
    swipe.num = outcome.num;
    swipe.name = outcome.name;
    swipe.date = outcome.instant.date();
    swipe.time = outcome.instant.time();
    swipe.opdate = Statements::kFixedOpDate;
    retain({swipe}, outcome.server, confirmedAt);
}

void LocalStore::confirm(const std::vector<StoredSwipe>& swipes, const QString& server,
                         const QDateTime& confirmedAt)
{
    const int minutes = retentionMinutes();
    WriteTransaction transaction(*this);
    const qint64 at = DateTimeValue::fromDateTime(confirmedAt).seconds();
    const bool keep = !server.isEmpty() && minutes > 0;
    // A round holds thousands: the rows move in two statements over the list of their ids
    // rather than two statements per swipe.
    QString ids;
    ids.reserve(qsizetype(swipes.size()) * 8 + 2);
    ids += u'[';
    for (const StoredSwipe& swipe : swipes) {
        if (ids.size() > 1)
            ids += u',';
        ids += QString::number(swipe.id);
    }
    ids += u']';
    if (keep) {
        SqliteStatement copy(
            m_db->handle(),
            QStringLiteral("INSERT OR REPLACE INTO confirmed (num, name, d, t, opdate, instant, "
                           "server, confirmed_at) SELECT num, name, d, t, opdate, instant, ?, ? "
                           "FROM outbox WHERE id IN (SELECT value FROM json_each(?)) ORDER BY id"));
        copy.bindText(1, server);
        copy.bindInt64(2, at);
        copy.bindText(3, ids);
        copy.step();
        std::vector<SwipeLedger::Entry> kept;
        kept.reserve(swipes.size());
        for (const StoredSwipe& swipe : swipes)
            kept.push_back({SwipeLedger::State::Confirmed, swipe, server, at});
        noteLive(std::move(kept));
    } else {
        noteGone(swipes);
    }
    SqliteStatement erase(m_db->handle(),
                          QStringLiteral("DELETE FROM outbox WHERE id IN (SELECT value FROM json_each(?))"));
    erase.bindText(1, ids);
    erase.step();
    if (minutes > 0)
        forgetRetainedBefore(confirmedAt.addSecs(-qint64(minutes) * 60));
    transaction.commit();
}

void LocalStore::confirmRefused(const StoredSwipe& swipe, const QString& server, const QDateTime& confirmedAt)
{
    const int minutes = retentionMinutes();
    WriteTransaction transaction(*this);
    removeRefused(swipe.id);
    if (!server.isEmpty() && minutes > 0) {
        const qint64 at = DateTimeValue::fromDateTime(confirmedAt).seconds();
        RetainedInsert(*m_db).add(swipe, server, at);
        noteLive({{SwipeLedger::State::Confirmed, swipe, server, at}});
    }
    transaction.commit();
}

void LocalStore::forgetRetained(const StoredSwipe& swipe)
{
    noteGone({swipe});
    SqliteStatement erase(m_db->handle(),
                          QStringLiteral("DELETE FROM confirmed WHERE num = ? AND instant = ?"));
    erase.bindText(1, swipe.num);
    erase.bindInt64(2, DateTimeValue::fromDateTime(swipe.instant()).seconds());
    erase.step();
}

int LocalStore::forgetRetainedBefore(const QDateTime& moment)
{
    const qint64 before = DateTimeValue::fromDateTime(moment).seconds();
    noteGone(selectSwipes(QStringLiteral("SELECT %1 FROM confirmed WHERE confirmed_at < ?"), before));
    SqliteStatement erase(m_db->handle(), QStringLiteral("DELETE FROM confirmed WHERE confirmed_at < ?"));
    erase.bindInt64(1, before);
    erase.step();
    return int(m_db->changes());
}

namespace {

const char kRetainedColumns[] = "rowid, num, name, d, t, opdate, server, confirmed_at";

LocalStore::RetainedSwipe readRetained(const SqliteStatement& row)
{
    return {readSwipe(row), row.columnText(6), DateTimeValue(row.columnInt64(7)).toDateTime()};
}

} // namespace

std::vector<LocalStore::RetainedSwipe> LocalStore::retainedNotFrom(const QString& server) const
{
    SqliteStatement select(m_db->handle(), QStringLiteral("SELECT %1 FROM confirmed WHERE server <> ? "
                                                          "ORDER BY instant, num")
                                               .arg(QLatin1String(kRetainedColumns)));
    select.bindText(1, server);
    std::vector<RetainedSwipe> result;
    while (select.step())
        result.push_back(readRetained(select));
    return result;
}

std::vector<LocalStore::RetainedSwipe> LocalStore::retained() const
{
    SqliteStatement select(m_db->handle(), QStringLiteral("SELECT %1 FROM confirmed ORDER BY instant, num")
                                               .arg(QLatin1String(kRetainedColumns)));
    std::vector<RetainedSwipe> result;
    while (select.step())
        result.push_back(readRetained(select));
    return result;
}

int LocalStore::retainedCount() const
{
    SqliteStatement count(m_db->handle(), QStringLiteral("SELECT count(*) FROM confirmed"));
    count.step();
    return int(count.columnInt64(0));
}

std::vector<StoredSwipe> LocalStore::selectSwipes(const QString& sql, qint64 value) const
{
    // rowid stands in for the id in the table of confirmed swipes, which has none.
    SqliteStatement select(m_db->handle(), sql.arg(QStringLiteral("rowid, num, name, d, t, opdate")));
    select.bindInt64(1, value);
    std::vector<StoredSwipe> result;
    while (select.step())
        result.push_back(readSwipe(select));
    return result;
}

void LocalStore::noteLive(std::vector<SwipeLedger::Entry> entries)
{
    if (!m_ledger || entries.empty())
        return;
    if (m_inTransaction) {
        for (SwipeLedger::Entry& entry : entries)
            m_pendingLive.push_back(std::move(entry));
        return;
    }
    m_ledger->append(entries);
}

void LocalStore::noteGone(const std::vector<StoredSwipe>& swipes)
{
    if (!m_ledger || swipes.empty())
        return;
    std::vector<SwipeLedger::Entry> gone;
    for (const StoredSwipe& swipe : swipes)
        gone.push_back({SwipeLedger::State::Gone, swipe, {}, 0});
    m_ledger->append(gone);
}

SwipeLedger::Live LocalStore::storeLive() const
{
    // Tens of thousands at a catch-up: gathered, sorted, and put into the map in its order
    // rather than each looked up where it goes.
    std::vector<std::pair<SwipeLedger::Key, SwipeLedger::Entry>> rows;
    for (const char* table : {"outbox", "refused"}) {
        SqliteStatement select(
            m_db->handle(),
            QStringLiteral("SELECT %1 FROM %2").arg(QLatin1String(kSwipeColumns), QLatin1String(table)));
        while (select.step()) {
            StoredSwipe swipe = readSwipe(select);
            SwipeLedger::Key key = SwipeLedger::keyOf(swipe);
            rows.push_back({std::move(key), {SwipeLedger::State::Waiting, std::move(swipe), {}, 0}});
        }
    }
    {
        SqliteStatement select(
            m_db->handle(), QStringLiteral("SELECT %1 FROM confirmed").arg(QLatin1String(kRetainedColumns)));
        while (select.step()) {
            StoredSwipe swipe = readSwipe(select);
            SwipeLedger::Key key = SwipeLedger::keyOf(swipe);
            rows.push_back({std::move(key),
                            {SwipeLedger::State::Confirmed, std::move(swipe), select.columnText(6),
                             select.columnInt64(7)}});
        }
    }
    const SwipeLedger::KeyOrder order;
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const auto& a, const auto& b) { return order(a.first, b.first); });
    SwipeLedger::Live live;
    for (size_t first = 0; first < rows.size();) {
        size_t end = first + 1;
        while (end < rows.size() && !order(rows[first].first, rows[end].first))
            ++end;
        // A swipe still waiting is waiting, whatever an earlier confirmation kept; of two
        // waiting, the later table's (set aside after it was queued).
        size_t chosen = end - 1;
        for (size_t k = end; k-- > first;) {
            if (rows[k].second.state == SwipeLedger::State::Waiting) {
                chosen = k;
                break;
            }
        }
        live.emplace_hint(live.end(), std::move(rows[chosen].first), std::move(rows[chosen].second));
        first = end;
    }
    return live;
}

namespace {

bool sameSwipe(const StoredSwipe& a, const StoredSwipe& b)
{
    return a.num == b.num && a.name == b.name && a.date == b.date && a.time == b.time && a.opdate == b.opdate;
}

} // namespace

void LocalStore::restoreFrom(const SwipeLedger::Live& live)
{
    // Written without notes: the record holds them already.
    std::unique_ptr<SwipeLedger> ledger = std::move(m_ledger);
    try {
        WriteTransaction transaction(*this);
        // Another handle may have carried some over into the new file already.
        const SwipeLedger::Live present = storeLive();
        SqliteStatement insert(m_db->handle(),
                               QStringLiteral("INSERT INTO outbox (num, name, d, t, opdate, instant) "
                                              "VALUES (?, ?, ?, ?, ?, ?)"));
        RetainedInsert retainedInsert(*m_db);
        for (const auto& [key, entry] : live) {
            if (present.count(key))
                continue;
            if (entry.state == SwipeLedger::State::Confirmed) {
                retainedInsert.add(entry.swipe, entry.server, entry.confirmedAt);
                continue;
            }
            bindSwipe(insert, entry.swipe);
            insert.step();
            insert.reset();
        }
        exec(QStringLiteral("DELETE FROM compared"));
        exec(QStringLiteral("INSERT INTO compared (at) VALUES (1)"));
        transaction.commit();
    } catch (...) {
        m_ledger = std::move(ledger);
        throw;
    }
    m_ledger = std::move(ledger);
}

void LocalStore::verify()
{
    if (m_readOnly || !m_ledger || !m_db)
        return;
    SwipeLedger::Contents recorded;
    std::future<SwipeLedger::Contents> reading;
    SwipeLedger::Live held;
    bool damaged = false;
    // Never compared yet: made anew, by this handle or another, after it was deleted.
    bool fresh = false;
    try {
        // Writers wait meanwhile: the two copies are compared as of one moment. A swipe
        // reaches the record only once the store has committed it, so with the writers
        // held the store holds whatever the record may show. The record is read on a
        // second thread while the store is: both are read whole.
        WriteTransaction transaction(*this);
        reading = std::async(std::launch::async, [this] { return m_ledger->read(); });
        held = storeLive();
        recorded = reading.get();
        bool comparedBefore = false;
        {
            SqliteStatement compared(m_db->handle(), QStringLiteral("SELECT count(*) FROM compared"));
            compared.step();
            comparedBefore = compared.columnInt64(0) > 0;
            fresh = !comparedBefore && held.empty();
        }
        for (const auto& [key, entry] : recorded.live) {
            const auto found = held.find(key);
            // A swipe the record holds is in the store too, as it is there. (Its state may
            // differ: two handles' appends can land in either order.)
            if (found == held.end() || !sameSwipe(found->second.swipe, entry.swipe)) {
                damaged = true;
                break;
            }
        }
        if (!damaged) {
            if (recorded.damagedLines > 0) {
                const QString aside = m_ledger->moveAside();
                std::vector<SwipeLedger::Entry> live;
                for (const auto& [key, entry] : held)
                    live.push_back(entry);
                m_ledger->rewrite(live);
                m_damage = Damage{m_ledger->path(), aside, 0, 0, true};
            } else {
                std::vector<SwipeLedger::Entry> missing;
                for (const auto& [key, entry] : held) {
                    const auto found = recorded.live.find(key);
                    if (found == recorded.live.end() || found->second.state != entry.state)
                        missing.push_back(entry);
                }
                // Kept short: only what is live, once the dead lines outnumber it (a rewrite
                // once in a while costs less than reading hundreds of dead lines at each
                // opening, which each kqdb swipe that keeps a swipe does).
                if (recorded.lines > 2 * int(held.size()) + kRecordSlack) {
                    std::vector<SwipeLedger::Entry> live;
                    for (const auto& [key, entry] : held)
                        live.push_back(entry);
                    m_ledger->rewrite(live);
                } else {
                    m_ledger->append(missing);
                }
            }
            // Marked once: a store compared before needs no write (nor a synced commit) to
            // say so again, so that opening a sound store writes nothing.
            if (!comparedBefore)
                exec(QStringLiteral("INSERT INTO compared (at) VALUES (1)"));
            transaction.commit();
            if (m_madeAfterDamage)
                m_damage = Damage{m_path, m_movedAside, 0, 0, false};
            m_madeAfterDamage = false;
            return;
        }
    } catch (const SqliteError& error) {
        if (error.trouble() != DatabaseError::Trouble::Damaged)
            throw;
        damaged = true;
        recorded = reading.valid() ? reading.get() : m_ledger->read();
    }

    // The store lost swipes the record holds: it is moved aside (unless opening made it new
    // just now) and made anew from the record, every waiting swipe queued again.
    const QString damagedPath = m_path;
    const bool remade = fresh && !m_madeAfterDamage;
    if (!m_madeAfterDamage && !remade) {
        const std::optional<FileIdentity> now = identityOf(m_path);
        if (now && m_identity && *now != *m_identity) {
            // Another handle mended it already: this one opens what is there now.
            open();
            m_madeAfterDamage = false;
            verify();
            return;
        }
        moveAside();
        open();
    }
    m_madeAfterDamage = false;
    restoreFrom(recorded.live);
    std::vector<SwipeLedger::Entry> live;
    Damage damage{damagedPath, remade ? QString() : m_movedAside, 0, 0, false};
    damage.remade = remade;
    for (const auto& [key, entry] : recorded.live) {
        live.push_back(entry);
        ++(entry.state == SwipeLedger::State::Waiting ? damage.requeued : damage.retained);
    }
    m_ledger->rewrite(live);
    m_damage = damage;
}

std::optional<LocalStore::Damage> LocalStore::takeDamage()
{
    std::optional<Damage> damage;
    damage.swap(m_damage);
    return damage;
}

bool LocalStore::takeLogGone()
{
    const bool gone = m_logGone;
    m_logGone = false;
    return gone;
}
