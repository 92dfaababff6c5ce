#pragma once

#include <QString>

class SqliteDatabase;
struct sqlite3;

// The attendance file's write-ahead log: readers and the writer pass each other, so a
// report, a backup or a shell left in the middle of a read no longer holds up a swipe.
// The log (`-wal`) and its index (`-shm`) lie beside the file and must stay there, with
// the file's group and rights, for every user of a shared folder: a user who may only
// read the file can open it only while they exist, since only the group may make them.
class WriteAheadLog
{
public:
    // Before the first access: the log and its index are kept (the log emptied) when the
    // connection closes, instead of being deleted by the last one out.
    static void keepFiles(sqlite3* db);
    static void keepFiles(SqliteDatabase& db);
    // Switches a file still in the rollback journal mode to the log, once, when this
    // connection has it to itself for a moment (else the next open tries again) and the
    // file is not on a network share, where the index cannot be shared.
    static void adopt(SqliteDatabase& db, const QString& path);
    // Gives the log and its index the file's group where this user may (made them, or is
    // root): SQLite gives them the file's rights but its maker's group.
    static void matchFiles(const QString& path);
    // After a commit: the log copied into the file and emptied, where no reader needs it
    // (nobody is waited for). The file alone is then the whole database, so a copy of it
    // is a backup, and a file restored or written under the same name meets an empty log,
    // not the frames of the file that was there. Failures are left for the next commit.
    static void empty(SqliteDatabase& db, int busyTimeoutMs);
    // A network file system shares no memory between machines, which the index needs.
    static bool onNetworkShare(const QString& path);

    // The size the log is cut back to when it starts over.
    static constexpr int kSizeLimit = 1024 * 1024;
    // How long adopt() waits for the file.
    static constexpr int kAdoptWaitMs = 200;
};
