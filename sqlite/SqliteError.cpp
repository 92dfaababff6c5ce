#include "sqlite/SqliteError.h"

#include <sqlite3.h>

DatabaseError::Trouble SqliteError::troubleOf(int resultCode, const QString& message)
{
    switch (resultCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Trouble::Locked;
    case SQLITE_FULL:
        return Trouble::DiskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Trouble::NoWriteRight;
    case SQLITE_IOERR:
        return Trouble::DiskIo;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Trouble::Damaged;
    case SQLITE_CANTOPEN:
        return Trouble::CannotOpen;
    case SQLITE_ERROR:
        // SQLite has no code of its own for a missing table; this is its fixed wording
        // for one, given by the library rather than by us.
        return message.startsWith(QLatin1String("no such table")) ? Trouble::MissingTable : Trouble::Unknown;
    default:
        return Trouble::Unknown;
    }
}

SqliteError SqliteError::damaged(QString message)
{
    return SqliteError(std::move(message), SQLITE_CORRUPT);
}
