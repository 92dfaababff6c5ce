#include "sqlite/WriteAheadLog.h"

#include "platform/DatabaseError.h"
#include "sqlite/SqliteDatabase.h"
#include "sqlite/SqliteStatement.h"

#include <QFile>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

void WriteAheadLog::keepFiles(sqlite3* db)
{
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_exec(db, QByteArray("PRAGMA journal_size_limit=" + QByteArray::number(kSizeLimit)).constData(),
                 nullptr, nullptr, nullptr);
}

void WriteAheadLog::keepFiles(SqliteDatabase& db)
{
    keepFiles(db.handle());
}

void WriteAheadLog::adopt(SqliteDatabase& db, const QString& path)
{
    {
        SqliteStatement mode(db.handle(), QStringLiteral("PRAGMA journal_mode"));
        if (mode.step() && mode.columnText(0).compare(u"wal", Qt::CaseInsensitive) == 0)
            return;
    }
    if (onNetworkShare(path))
        return;
    // SQLite rolls back a journal a crash left before anything else, and the switch itself
    // is one write of the file's header under the file's write lock.
    sqlite3_busy_timeout(db.handle(), kAdoptWaitMs);
    try {
        db.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    } catch (const DatabaseError&) {
        // Held by another program: the next open switches it.
    }
}

void WriteAheadLog::matchFiles(const QString& path)
{
    struct stat database;
    if (::stat(QFile::encodeName(path).constData(), &database) != 0)
        return;
    for (const char* suffix : {"-wal", "-shm"}) {
        // A descriptor for the name alone, which is never opened for reading or writing:
        // closing one that was would let go of this process's locks on the file, which its
        // connections hold on the index all the time.
        const int fd = ::open(QFile::encodeName(path + QLatin1String(suffix)).constData(),
                              O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st;
        // The rights are the file's already: SQLite makes them so.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_gid != database.st_gid &&
            (st.st_uid == ::geteuid() || ::geteuid() == 0))
            (void)!::fchownat(fd, "", uid_t(-1), database.st_gid, AT_EMPTY_PATH);
        ::close(fd);
    }
}

void WriteAheadLog::empty(SqliteDatabase& db, int busyTimeoutMs)
{
    sqlite3_busy_timeout(db.handle(), 0);
    sqlite3_wal_checkpoint_v2(db.handle(), "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(db.handle(), busyTimeoutMs);
}

bool WriteAheadLog::onNetworkShare(const QString& path)
{
    struct statfs fs;
    if (::statfs(QFile::encodeName(path).constData(), &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x564CUL:     // NCP
    case 0x65735546UL: // FUSE (sshfs and the like)
        return true;
    default:
        return false;
    }
}
