#pragma once

#include <QString>

struct sqlite3;

// Owns one open SQLite handle. Opening never creates a file: the caller vets the path, and
// the handle is opened without SQLITE_OPEN_CREATE. Every failing SQLite call goes through
// check(), so all of them surface as the same provider error kind (SqliteError, an
// DatabaseError that keeps SQLite's result code).
class SqliteDatabase
{
public:
    enum class Links
    {
        Follow,
        // A symbolic link under the name is refused (SQLITE_CANTOPEN): for the terminal's
        // private files, which nobody else should be able to point elsewhere.
        Refuse
    };

    // sharedFolder, for a file in a folder others may write to: a path that passes through
    // a symbolic link is refused by the open itself whatever `links` says, and a journal
    // another member of the group left is handled as SharedFolderVfs says.
    SqliteDatabase(const QString& absolutePath, bool readOnly, Links links = Links::Follow,
                   bool sharedFolder = false);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    sqlite3* handle() const { return m_db; }
    bool isReadOnly() const;
    // Rows changed by the most recent INSERT, UPDATE or DELETE on the handle.
    qint64 changes() const;
    // How long a statement waits for another connection's lock before failing as locked.
    void setBusyTimeout(int ms);
    // The row id the most recent successful INSERT on the handle gave its row.
    qint64 lastInsertRowId() const;
    // Runs statements that return no rows of interest.
    void exec(const QString& sql);

    // Passes SQLITE_OK, SQLITE_ROW and SQLITE_DONE through; throws SqliteError with the
    // database's own error text and the code for every other one.
    static int check(int rc, sqlite3* db);

private:
    sqlite3* m_db = nullptr;
};
