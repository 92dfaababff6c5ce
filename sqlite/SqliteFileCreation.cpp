#include "sqlite/SqliteFileCreation.h"

#include "sqlite/WriteAheadLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <sqlite3.h>

namespace {

// Closes the handle and, unless released, removes the file it was creating.
class NewFileGuard
{
public:
    explicit NewFileGuard(QString path) : m_path(std::move(path)) {}
    ~NewFileGuard()
    {
        if (m_db)
            sqlite3_close(m_db);
        if (m_keep)
            return;
        // The journal too: a failed write (a full disk) can leave it behind, and a journal
        // without its database would be taken for the hot journal of the next file of
        // that name.
        QFile::remove(m_path);
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            QFile::remove(m_path + QLatin1String(suffix));
    }
    sqlite3** handle() { return &m_db; }
    sqlite3* db() const { return m_db; }
    void keep() { m_keep = true; }

private:
    QString m_path;
    sqlite3* m_db = nullptr;
    bool m_keep = false;
};

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

// SQLite's message, with the system's reason when a system call failed: "disk I/O
// error" alone does not say that the disk is full.
QString sqliteError(sqlite3* db, const char* message = nullptr)
{
    QString text = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
    if (const int code = sqlite3_system_errno(db); code != 0)
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(code)));
    return text;
}

bool exec(sqlite3* db, const QString& sql, QString* error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    const QString text = sqliteError(db, message);
    sqlite3_free(message);
    return fail(error, text);
}

bool insertRows(sqlite3* db, const QByteArray& insertSql, qsizetype rowCount,
                const std::function<QList<QByteArray>(qsizetype)>& row, QString* error,
                const std::function<void(qint64)>& progress)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, insertSql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
        return fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
    bool ok = true;
    qint64 written = 0;
    for (qsizetype r = 0; r < rowCount; ++r) {
        const QList<QByteArray> fields = row(r);
        for (int i = 0; i < int(fields.size()); ++i)
            sqlite3_bind_text(stmt, i + 1, fields[i].constData(), int(fields[i].size()), SQLITE_TRANSIENT);
        if (sqlite3_step(stmt) != SQLITE_DONE) {
            ok = fail(error, sqliteError(db));
            break;
        }
        sqlite3_reset(stmt);
        if (progress)
            progress(++written);
    }
    sqlite3_finalize(stmt);
    return ok;
}

} // namespace

bool SqliteFileCreation::create(const QString& path, const QStringList& statements,
                                const QByteArray& insertSql, qsizetype rowCount,
                                const std::function<QList<QByteArray>(qsizetype)>& row,
                                const std::function<void(qint64)>& progress, QString* error)
{
    // Claiming the name first makes "never overwrite" hold even against a file that
    // appears between a check and the open.
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return fail(error, file.exists() ? QStringLiteral("%1 already exists").arg(path)
                                             : QStringLiteral("%1: %2").arg(path, file.errorString()));
    }
    NewFileGuard guard(path);
    // The file just made is opened without following a link: in a folder others may write
    // to, one of them could have put a link in its place meanwhile. The folder itself is
    // resolved first, as links on the way to it are the administrator's own.
    const QFileInfo made(path);
    const QString resolved = made.dir().canonicalPath() + u'/' + made.fileName();
    if (sqlite3_open_v2(QFile::encodeName(resolved).constData(), guard.handle(),
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK)
        return fail(error, QString::fromUtf8(guard.db() ? sqlite3_errmsg(guard.db()) : "out of memory"));

    // Made with the write-ahead log, as every open keeps it: readers never hold up a swipe.
    WriteAheadLog::keepFiles(guard.db());
    if (!WriteAheadLog::onNetworkShare(resolved) &&
        !exec(guard.db(), QStringLiteral("PRAGMA journal_mode=WAL"), error))
        return false;
    if (!exec(guard.db(), QStringLiteral("BEGIN"), error))
        return false;
    for (const QString& statement : statements) {
        if (!exec(guard.db(), statement, error))
            return false;
    }
    if (!insertRows(guard.db(), insertSql, rowCount, row, error, progress) ||
        !exec(guard.db(), QStringLiteral("COMMIT"), error))
        return false;
    if (sqlite3_close(guard.db()) != SQLITE_OK)
        return fail(error, sqliteError(guard.db()));
    *guard.handle() = nullptr;
    guard.keep();
    return true;
}
