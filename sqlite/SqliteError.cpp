#include "sqlite/SqliteError.h"

#include <sqlite3.h>

DatabaseError::Trouble SqliteError::trouble() const
{
    switch (primaryResultCode()) {
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
    default:
        return Trouble::Unknown;
    }
}

SqliteError SqliteError::damaged(QString message)
{
    return SqliteError(std::move(message), SQLITE_CORRUPT);
}
