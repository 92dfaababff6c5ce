#include "sqlite/SqliteBackend.h"

#include "platform/AccountName.h"
#include "platform/DatabaseError.h"
#include "platform/TrustedPath.h"
#include "query/DateTimeCoercion.h"
#include "query/SqlStatementPlan.h"
#include "query/SqlTokenizer.h"
#include "sqlite/SqliteDatabase.h"
#include "sqlite/SqliteError.h"
#include "sqlite/SqliteStatement.h"
#include "sqlite/WriteAheadLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr int kBusyTimeoutMs = SqliteBackend::kBusyTimeoutMs;
// Statements a terminal uses are few; a tool running many different texts must not grow
// the cache without end.
constexpr qsizetype kMaxCachedStatements = 32;

// Names SQLite accepts for the hidden row id; a real column of the same name hides each.
constexpr const char16_t* kRowIdNames[] = {u"rowid", u"_rowid_", u"oid"};

using Trouble = DatabaseError::Trouble;

[[noreturn]] void cannotOpen(const QString& path, const QString& cause, Trouble trouble = Trouble::Unknown)
{
    throw DatabaseError(QStringLiteral("Cannot open database file '%1': %2").arg(path, cause), trouble);
}

// The kind of a failed system call on the database's path.
Trouble troubleOfErrno(int code)
{
    return code == EACCES ? Trouble::NoWriteRight : Trouble::Unknown;
}

// The path as one word a shell reads back unchanged, so that the command suggested for an
// Access file can be pasted as it is.
QString shellWord(const QString& path)
{
    const bool plain = !path.isEmpty() && std::all_of(path.cbegin(), path.cend(), [](QChar c) {
        return c.isLetterOrNumber() || QStringView(u"/._-+,:@%=").contains(c);
    });
    if (plain)
        return path;
    return u'\'' + QString(path).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

// Refuses everything that is not an existing file before SQLite sees it: SQLite would
// create a missing file. The file is not opened here: closing any descriptor of a file
// lets go of every lock this process holds on it, the read locks of the write-ahead log
// among them, which the terminal's other connections to it (the forwarder's) rely on.
void vetDatabasePath(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        // Only a name that leads nowhere is a missing file; a symbolic link loop or a
        // folder on the way that cannot be searched is reported for what it is.
        struct stat st;
        const int code = ::stat(QFile::encodeName(path).constData(), &st) == 0 ? 0 : errno;
        if (code == 0 || code == ENOENT || code == ENOTDIR)
            throw DatabaseError(QStringLiteral("Could not find file '%1'.").arg(path), Trouble::MissingFile);
        cannotOpen(path, QString::fromLocal8Bit(std::strerror(code)) + u'.', troubleOfErrno(code));
    }
    if (info.isDir())
        cannotOpen(path, QStringLiteral("it is a folder, not a database file."), Trouble::Folder);
    if (::access(QFile::encodeName(path).constData(), R_OK) != 0) {
        const int code = errno;
        cannotOpen(path, QString::fromLocal8Bit(std::strerror(code)) + u'.', troubleOfErrno(code));
    }
}

// Refuses what is not an SQLite file, from its first 100 bytes read through SQLite's own
// descriptor before SQLite reads or writes it: SQLite treats an empty file as a new
// database it may write.
void vetDatabaseHeader(const QString& path, sqlite3* db)
{
    QByteArray header(100, '\0');
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) == SQLITE_OK && file &&
        file->pMethods) {
        const int rc = file->pMethods->xRead(file, header.data(), int(header.size()), 0);
        if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ)
            cannotOpen(path, QString::fromUtf8(sqlite3_errstr(rc)) + u'.', Trouble::DiskIo);
    }
    const QByteArray product = header.mid(4, 15);
    if (product == "Standard Jet DB" || product == "Standard ACE DB")
        cannotOpen(path,
                   QStringLiteral("it is a Microsoft Access database; bring it over with: kqdb import-mdb "
                                  "%1 NEW.sqlite")
                       .arg(shellWord(path)),
                   Trouble::AccessFile);
    if (!header.startsWith(QByteArray("SQLite format 3\0", 16)))
        cannotOpen(path, QStringLiteral("the file is not an SQLite database."), Trouble::Damaged);
}

// The folder of a database file as the permissions see it.
struct Folder
{
    // The folder with every symbolic link on the way resolved; empty when it cannot be.
    QString canonicalPath;
    // Someone besides the folder's owner may create, rename or delete its entries.
    bool sharedForWriting = false;
};

Folder folderOf(const QString& path)
{
    const QFileInfo info(path);
    Folder folder;
    folder.canonicalPath = info.dir().canonicalPath();
    struct stat st;
    if (!folder.canonicalPath.isEmpty() &&
        ::stat(QFile::encodeName(folder.canonicalPath).constData(), &st) == 0) {
        folder.sharedForWriting = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    }
    return folder;
}

QString sidePath(const QString& path, const char* suffix)
{
    return path + QLatin1String(suffix);
}

// A journal or log beside the file that this user cannot use: a link (never followed), or
// one this user may not write, which another member of the group or someone else put
// there. SQLite would only say "unable to open database file"; the administrator is told
// which file it is and what to do about it.
void refuseForeignSideFiles(const QString& path, bool readOnly)
{
    struct stat database;
    if (::stat(QFile::encodeName(path).constData(), &database) != 0)
        return;
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const QString side = sidePath(path, suffix);
        const QByteArray name = QFile::encodeName(side);
        struct stat st;
        if (::lstat(name.constData(), &st) != 0)
            continue;
        const bool journal = std::strcmp(suffix, "-journal") == 0;
        const QString what =
            journal ? QStringLiteral("the journal") : QStringLiteral("the write-ahead log file");
        if (S_ISLNK(st.st_mode) || !S_ISREG(st.st_mode))
            cannotOpen(
                path,
                QStringLiteral("%1 '%2' beside it is %3, which is not followed; an administrator "
                               "should remove it: rm '%2'")
                    .arg(what, side,
                         S_ISLNK(st.st_mode)
                             ? QStringLiteral("a symbolic link made by %1").arg(AccountName::user(st.st_uid))
                             : QStringLiteral("no regular file")),
                Trouble::ForeignLogFile);
        if (readOnly || ::access(name.constData(), W_OK) == 0)
            continue;
        // A journal is only ever needed by a write that was under way; a log may hold
        // commits not yet copied into the file, so it is given the file's rights instead.
        const QString mode = QString::number(database.st_mode & 0666, 8);
        if (journal)
            cannotOpen(path,
                       QStringLiteral("the journal '%1' beside it belongs to %2 (group %3, mode %4) and "
                                      "this user may not write it; an administrator should remove it: "
                                      "rm '%1'")
                           .arg(side, AccountName::user(st.st_uid), AccountName::group(st.st_gid),
                                QString::number(st.st_mode & 07777, 8)),
                       Trouble::ForeignLogFile);
        cannotOpen(path,
                   QStringLiteral("%1 '%2' beside it belongs to %3 (group %4, mode %5) and this user may "
                                  "not write it; an administrator should give it the database file's "
                                  "group and rights: chgrp %6 '%2' && chmod %7 '%2'")
                       .arg(what, side, AccountName::user(st.st_uid), AccountName::group(st.st_gid),
                            QString::number(st.st_mode & 07777, 8), AccountName::group(database.st_gid),
                            mode),
                   Trouble::ForeignLogFile);
    }
}

// What a write that found the file held says: the file, that another program holds it,
// how long this one waited. "database is locked" stays in it, as SQLite's own words.
QString lockedText(const QString& path, int waitedMs)
{
    return QStringLiteral("database is locked: the database file '%1' is locked by another program, which "
                          "holds it for writing (waited %2 s); nothing was written")
        .arg(path, QString::number(waitedMs / 1000.0, 'g', 3));
}

bool logFilesMissing(const QString& path)
{
    return !QFileInfo::exists(sidePath(path, "-wal")) || !QFileInfo::exists(sidePath(path, "-shm"));
}
// The identifier a table text as written in a statement stands for ("employ", "\"employ\"").
QString unquoted(const QString& text)
{
    for (const SqlTokenizer::Token& token : SqlTokenizer::tokenize(text))
        if (token.isSignificant())
            return token.identifier();
    return text;
}

void bindStored(SqliteStatement& statement, int index, const DbValue& value)
{
    if (const auto* i = std::get_if<qint64>(&value))
        statement.bindInt64(index, *i);
    else if (const auto* d = std::get_if<double>(&value))
        statement.bindDouble(index, *d);
    else if (const auto* s = std::get_if<QString>(&value))
        statement.bindText(index, *s);
    else if (const auto* b = std::get_if<QByteArray>(&value))
        statement.bindBlob(index, *b);
    else
        statement.bindNull(index);
}

} // namespace

// A prepared statement with what its markers need: whether each occurrence stands in a
// date/time context, and its parameter name for messages.
struct SqliteBackend::Prepared
{
    std::unique_ptr<SqliteStatement> statement;
    std::vector<bool> dateTime;
    QStringList names;
    bool inUse = false;
};

namespace {

class SqliteCursor : public DbCursor
{
public:
    SqliteCursor(std::shared_ptr<SqliteBackend::Prepared> prepared, SqliteDatabase& db)
        : m_prepared(std::move(prepared)), m_statement(*m_prepared->statement), m_db(db)
    {
        m_prepared->inUse = true;
    }
    ~SqliteCursor() override
    {
        m_statement.reset();
        m_statement.clearBindings();
        m_prepared->inUse = false;
    }

    void bindText(int position, const QString& value) override
    {
        const size_t at = size_t(position - 1);
        if (at >= m_prepared->dateTime.size() || !m_prepared->dateTime[at]) {
            m_statement.bindText(position, value);
            return;
        }
        const auto seconds = DateTimeCoercion::parse(value);
        if (!seconds)
            throw DatabaseError(QStringLiteral("Data type mismatch in criteria expression: parameter '%1' "
                                               "value '%2' is not a date/time.")
                                    .arg(m_prepared->names.value(qsizetype(at)), value));
        m_statement.bindInt64(position, seconds->seconds());
    }
    void bindNull(int position) override { m_statement.bindNull(position); }
    void bindValue(int position, const DbValue& value) override { bindStored(m_statement, position, value); }

    bool step() override
    {
        const bool row = m_statement.step();
        if (!row)
            m_done = true;
        return row;
    }
    int columnCount() const override { return m_statement.columnCount(); }
    QString columnName(int column) const override { return m_statement.columnName(column); }
    QString columnDeclaredType(int column) const override { return m_statement.columnDeclaredType(column); }

    Type columnType(int column) const override
    {
        switch (m_statement.columnType(column)) {
        case SQLITE_INTEGER:
            return Type::Integer;
        case SQLITE_FLOAT:
            return Type::Float;
        case SQLITE_NULL:
            return Type::Null;
        case SQLITE_BLOB:
            return Type::Blob;
        default:
            return Type::Text;
        }
    }
    qint64 columnInt64(int column) const override { return m_statement.columnInt64(column); }
    double columnDouble(int column) const override { return m_statement.columnDouble(column); }
    QString columnText(int column) const override { return m_statement.columnText(column); }
    QByteArray columnBlob(int column) const override { return m_statement.columnBlob(column); }

    qint64 rowsChanged() const override { return m_done && !m_statement.isReadOnly() ? m_db.changes() : 0; }
    bool isReadOnly() const override { return m_statement.isReadOnly(); }

private:
    std::shared_ptr<SqliteBackend::Prepared> m_prepared;
    SqliteStatement& m_statement;
    SqliteDatabase& m_db;
    bool m_done = false;
};

} // namespace

SqliteBackend::SqliteBackend(const QString& path, bool readOnly) : m_path(path), m_readOnly(readOnly)
{
    OpenedFile opened = openFile(m_path, m_readOnly);
    m_db = std::move(opened.db);
    m_schemaVersion = std::move(opened.schemaVersion);
    m_file = opened.identity;
}

SqliteBackend::OpenedFile SqliteBackend::openFile(const QString& path, bool readOnly)
{
    // In a folder others may write to (the operators' shared folder), the database name
    // may have been replaced with a symbolic link by any of them: followed, it would make
    // this process, perhaps an administrator's, write some other file. Such a link is
    // refused, and the open itself refuses one that appears after this check.
    const Folder folder = folderOf(path);
    struct stat link;
    if (folder.sharedForWriting && ::lstat(QFile::encodeName(path).constData(), &link) == 0 &&
        S_ISLNK(link.st_mode))
        cannotOpen(path,
                   QStringLiteral("it is a symbolic link in a folder that others may write to; such a "
                                  "link is not followed."),
                   Trouble::UntrustedPath);
    // Nor may any folder on the way have been swapped by someone who may write to its
    // parent: the path is trusted from the root down, as a whole.
    if (const std::optional<QString> problem = TrustedPath::problem(path))
        cannotOpen(path, *problem + u'.', Trouble::UntrustedPath);
    vetDatabasePath(path);
    const QFileInfo info(path);
    // A file that cannot be written fails to open for writing, as a missing one does:
    // opened read-only instead, the list would load and every swipe fail unseen.
    const QString cannotWrite = QStringLiteral("the file cannot be written, and the connection is for "
                                               "reading and writing.");
    if (!readOnly && !info.isWritable())
        cannotOpen(path, cannotWrite, Trouble::NoWriteRight);
    refuseForeignSideFiles(path, readOnly);
    OpenedFile opened;
    // An absolute path never starts with "file:", so SQLite cannot read it as a URI with
    // options such as mode=rwc.
    try {
        // The folder is resolved here, so that only a link at the file's own name is refused.
        opened.db = folder.sharedForWriting && !folder.canonicalPath.isEmpty()
                        ? std::make_unique<SqliteDatabase>(folder.canonicalPath + u'/' + info.fileName(),
                                                           readOnly, SqliteDatabase::Links::Refuse, true)
                        : std::make_unique<SqliteDatabase>(info.absoluteFilePath(), readOnly);
    } catch (const DatabaseError& e) {
        cannotOpen(path, e.message(), e.trouble());
    }
    vetDatabaseHeader(path, opened.db->handle());
    try {
        sqlite3_busy_timeout(opened.db->handle(), kBusyTimeoutMs);
        WriteAheadLog::keepFiles(*opened.db);
        // With the write-ahead log, every commit syncs the log before it returns. In the
        // rollback journal mode (a file not switched yet, or on a network share), FULL
        // syncs the file and the journal but not the folder after the journal is deleted:
        // a power cut then could bring the journal back and roll an acknowledged commit
        // back with it, hence EXTRA.
        opened.db->exec(QStringLiteral("PRAGMA synchronous=EXTRA"));
        // Reading the schema is the first access that proves the file is a usable database.
        opened.db->exec(QStringLiteral("SELECT count(*) FROM sqlite_schema"));
        if (!readOnly) {
            WriteAheadLog::adopt(*opened.db, path);
            sqlite3_busy_timeout(opened.db->handle(), kBusyTimeoutMs);
            WriteAheadLog::matchFiles(path);
        }
        opened.schemaVersion =
            std::make_unique<SqliteStatement>(opened.db->handle(), QStringLiteral("PRAGMA schema_version"));
    } catch (const SqliteError& e) {
        opened.schemaVersion.reset();
        if (e.trouble() == DatabaseError::Trouble::Locked)
            throw SqliteError(lockedText(path, kBusyTimeoutMs), e.resultCode());
        if (readOnly && e.primaryResultCode() == SQLITE_CANTOPEN && logFilesMissing(path))
            cannotOpen(path,
                       QStringLiteral("it keeps a write-ahead log, and its files '%1' and '%2' are gone "
                                      "(removed by the last program that closed it); this user may only "
                                      "read the file and cannot make them again: a terminal or a kqdb "
                                      "command of a user who may write the file makes them again")
                           .arg(sidePath(path, "-wal"), sidePath(path, "-shm")),
                       Trouble::CannotOpen);
        cannotOpen(path, e.message(), e.trouble());
    } catch (const DatabaseError& e) {
        opened.schemaVersion.reset();
        cannotOpen(path, e.message(), e.trouble());
    }
    // SQLite itself falls back to reading a file it may not write.
    if (!readOnly && opened.db->isReadOnly())
        cannotOpen(path, cannotWrite, Trouble::NoWriteRight);
    // Taken after the open: while the file is held open its identity cannot pass to another.
    opened.identity = fileIdentity(path);
    return opened;
}

void SqliteBackend::revalidate()
{
    const std::optional<FileIdentity> now = fileIdentity(m_path);
    if (m_db && now && m_file && *now == *m_file)
        return;
    // A cursor still reading the old file keeps it; the next revalidation catches up.
    if (std::any_of(m_statements.cbegin(), m_statements.cend(), [](const auto& p) { return p->inUse; }))
        return;
    // The path names another file now (a backup restored, the file replaced) or none, or
    // the file was written over in place: a write through the old handle would land in a
    // file nobody else sees any more, or build on pages the file no longer holds (with the
    // write-ahead log SQLite only notices changes made through the log). When the path
    // holds no file, the old handle stays and the error tells why.
    vetDatabasePath(m_path);
    // Closed before the new one opens: two handles in one process on one name would share
    // the log's index, and closing the old one would let go of the new one's locks on it.
    m_statements.clear();
    m_columns.clear();
    m_knownSchemaVersion = -1;
    m_schemaVersion.reset();
    m_db.reset();
    m_file.reset();
    OpenedFile opened = openFile(m_path, m_readOnly);
    m_schemaVersion = std::move(opened.schemaVersion);
    m_db = std::move(opened.db);
    m_file = opened.identity;
    sqlite3_busy_timeout(m_db->handle(), m_busyTimeoutMs);
}

SqliteDatabase& SqliteBackend::db() const
{
    if (!m_db)
        throw DatabaseError(
            QStringLiteral("Cannot open database file '%1': it was replaced, and the file now "
                           "under its name could not be opened.")
                .arg(m_path));
    return *m_db;
}

SqliteBackend::~SqliteBackend()
{
    // Statements are finalized before the handle closes.
    m_statements.clear();
    m_schemaVersion.reset();
}

std::optional<SqliteBackend::FileIdentity> SqliteBackend::fileIdentity(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                        qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void SqliteBackend::dropCachesOnSchemaChange()
{
    db();
    m_schemaVersion->step();
    const qint64 version = m_schemaVersion->columnInt64(0);
    m_schemaVersion->reset();
    if (version == m_knownSchemaVersion)
        return;
    m_knownSchemaVersion = version;
    m_columns.clear();
    m_statements.clear();
}

const std::vector<DbColumnInfo>& SqliteBackend::columnsOf(const QString& identifier)
{
    const QString key = identifier.toLower();
    if (auto it = m_columns.constFind(key); it != m_columns.constEnd())
        return *it;
    std::vector<DbColumnInfo> columns;
    SqliteStatement info(db().handle(), QStringLiteral("SELECT name, type FROM pragma_table_info(?1)"));
    info.bindText(1, identifier);
    while (info.step())
        columns.push_back({info.columnText(0), info.columnText(1)});
    return *m_columns.insert(key, std::move(columns));
}

std::unique_ptr<DbCursor> SqliteBackend::prepare(const SqlStatementPlan& plan, const QString& rowIdName)
{
    dropCachesOnSchemaChange();
    const QString sql = plan.rewritten(rowIdName);
    if (auto it = m_statements.constFind(sql); it != m_statements.constEnd() && !(*it)->inUse)
        return std::make_unique<SqliteCursor>(*it, db());

    auto prepared = std::make_shared<Prepared>();
    prepared->statement = std::make_unique<SqliteStatement>(db().handle(), sql);
    if (!prepared->statement->isValid())
        throw DatabaseError(QStringLiteral("Command text was not set for the command object."));

    // The column types of the tables the statement names decide which texts become date/times.
    if (plan.hasContext()) {
        QHash<QString, bool> dateTimeColumn;
        for (const QString& table : plan.tableNames())
            for (const DbColumnInfo& column : columnsOf(table))
                dateTimeColumn[column.name.toLower()] |= DbColumnInfo::isDateTimeType(column.declaredType);
        for (const SqlStatementPlan::Occurrence& o : plan.occurrences()) {
            QStringList columns = o.contextColumns;
            if (o.insertPosition >= 0) {
                const std::vector<DbColumnInfo>& order = columnsOf(o.insertTable);
                if (size_t(o.insertPosition) < order.size())
                    columns = QStringList{order[size_t(o.insertPosition)].name};
            }
            prepared->dateTime.push_back(std::any_of(columns.begin(), columns.end(), [&](const QString& c) {
                return dateTimeColumn.value(c.toLower());
            }));
        }
    }
    for (const SqlStatementPlan::Occurrence& o : plan.occurrences())
        prepared->names.append(plan.parameterNames().value(o.nameIndex));

    if (m_statements.size() >= kMaxCachedStatements)
        m_statements.removeIf([](const auto& entry) { return !entry.value()->inUse; });
    if (!m_statements.contains(sql))
        m_statements.insert(sql, prepared);
    return std::make_unique<SqliteCursor>(prepared, db());
}

void SqliteBackend::execute(const QString& sql)
{
    db().exec(sql);
}

std::vector<DbColumnInfo> SqliteBackend::tableColumns(const QString& table)
{
    dropCachesOnSchemaChange();
    return columnsOf(unquoted(table));
}

QString SqliteBackend::rowIdName(const std::vector<DbColumnInfo>& columns) const
{
    for (const char16_t* candidate : kRowIdNames) {
        const QString name = QString::fromUtf16(candidate);
        const bool hidden = std::any_of(columns.begin(), columns.end(), [&](const DbColumnInfo& c) {
            return c.name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!hidden)
            return name;
    }
    return {};
}

qint64 SqliteBackend::deleteRow(const QString& table, const QString& rowIdName, const DbValue& rowId,
                                const QStringList& columns, const std::vector<DbValue>& values)
{
    // SQLite hands a freed row id to the next insert, so the id alone may name a different
    // row by now: the row must also still hold every value that was loaded.
    QString sql = QStringLiteral("DELETE FROM %1 WHERE %2 = ?1").arg(table, rowIdName);
    for (qsizetype n = 0; n < columns.size(); ++n)
        sql += QStringLiteral(" AND %1 IS ?%2 COLLATE BINARY")
                   .arg(DbColumnInfo::quotedName(columns[n]))
                   .arg(n + 2);
    SqliteStatement statement(db().handle(), sql);
    bindStored(statement, 1, rowId);
    for (size_t n = 0; n < values.size(); ++n)
        bindStored(statement, int(n) + 2, values[n]);
    statement.step();
    return db().changes();
}

void SqliteBackend::beginWrite(const QString&)
{
    // BEGIN IMMEDIATE takes the database's one write lock at once, which serialises every
    // writer, whatever the key.
    try {
        db().exec(QStringLiteral("BEGIN IMMEDIATE"));
    } catch (const SqliteError& e) {
        if (e.trouble() == DatabaseError::Trouble::Locked)
            throw SqliteError(lockedText(m_path, m_busyTimeoutMs), e.resultCode());
        throw;
    }
}

void SqliteBackend::setNetworkTimeout(int ms)
{
    // For a file, the wait for another program's write lock.
    m_busyTimeoutMs = ms > 0 ? ms : kBusyTimeoutMs;
    // Without a handle (a reopen failed) the bound is given to the next one.
    if (m_db)
        sqlite3_busy_timeout(m_db->handle(), m_busyTimeoutMs);
}

void SqliteBackend::beginListWrite()
{
    beginWrite({});
}

void SqliteBackend::commit()
{
    db().exec(QStringLiteral("COMMIT"));
    // The commit is in the log; the file itself is brought up to date where no reader
    // stands in the way, and the change is this connection's own, not a reason to reopen.
    WriteAheadLog::empty(db(), m_busyTimeoutMs);
    m_file = fileIdentity(m_path);
}

void SqliteBackend::rollback()
{
    db().exec(QStringLiteral("ROLLBACK"));
}

bool SqliteBackend::isReadOnly() const
{
    return m_db ? m_db->isReadOnly() : m_readOnly;
}
