#include "sqlite/SqliteDatabase.h"

#include "sqlite/SharedFolderVfs.h"
#include "sqlite/SqliteError.h"

#include <sqlite3.h>

SqliteDatabase::SqliteDatabase(const QString& absolutePath, bool readOnly, Links links, bool sharedFolder)
{
    const bool noFollow = links == Links::Refuse || sharedFolder;
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | (noFollow ? SQLITE_OPEN_NOFOLLOW : 0);
    const int rc = sqlite3_open_v2(absolutePath.toUtf8().constData(), &m_db, flags,
                                   sharedFolder ? SharedFolderVfs::name() : nullptr);
    if (rc != SQLITE_OK) {
        const QString text =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw SqliteError(text, rc);
    }
    sqlite3_extended_result_codes(m_db, 1);
}

SqliteDatabase::~SqliteDatabase()
{
    sqlite3_close_v2(m_db);
}

bool SqliteDatabase::isReadOnly() const
{
    return sqlite3_db_readonly(m_db, "main") == 1;
}

void SqliteDatabase::setBusyTimeout(int ms)
{
    sqlite3_busy_timeout(m_db, ms);
}

qint64 SqliteDatabase::lastInsertRowId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

qint64 SqliteDatabase::changes() const
{
    return sqlite3_changes64(m_db);
}

void SqliteDatabase::exec(const QString& sql)
{
    char* error = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const QString text = error ? QString::fromUtf8(error) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_free(error);
        throw SqliteError(text, sqlite3_extended_errcode(m_db));
    }
}

int SqliteDatabase::check(int rc, sqlite3* db)
{
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return rc;
    default:
        break;
    }
    // sqlite3_errmsg describes the most recent failure on the handle, which is this one.
    const char* text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw SqliteError(QString::fromUtf8(text), rc);
}
