#pragma once

#include "attendance/StoredSwipe.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class SqliteDatabase;

// A terminal's own SQLite file for one server database: a copy of the employee list as
// last loaded from the server, and the outbox of swipes the server has not confirmed yet.
// Each thread opens its own LocalStore on the file; write-ahead logging lets the window
// queue a swipe while the forwarder reads, and every commit is synced before it returns.
// The file and the folders made for it are its owner's alone, and it is never opened
// through a symbolic link. Failures throw DatabaseError.
class LocalStore
{
public:
    enum class Access
    {
        // Creates the file and its tables when missing; a damaged file is moved aside and
        // a new one made.
        ReadWrite,
        // Only looks: nothing is created, changed or moved.
        ReadOnly
    };

    // The employee list as loaded: column names, their display widths, and the values
    // row after row (columns.size() values per row).
    struct EmployeeCopy
    {
        QStringList columns;
        QList<int> widths;
        QStringList values;
    };

    // Opens the file, creating it (readable by its owner only) and its tables when missing.
    explicit LocalStore(const QString& filePath, Access access = Access::ReadWrite);
    ~LocalStore();
    LocalStore(const LocalStore&) = delete;
    LocalStore& operator=(const LocalStore&) = delete;

    // The store of a connection in the user's state folder: one file per server database,
    // named by a hash of the connection text without its password.
    static QString pathFor(const QString& connectionString);
    // The connection text as a person may read it: the password left out.
    static QString displayText(const QString& connectionString);

    QString filePath() const { return m_path; }
    // Where a damaged file found at opening was moved, kept for inspection; empty when
    // none was.
    QString movedAside() const { return m_movedAside; }
    // Before a swipe is queued: a file deleted or replaced since it was opened would take
    // the swipe into a file nobody reads; the store is opened again, made anew when gone.
    // With carryOver, the swipes still waiting in the old file (readable through the handle
    // held on it) are queued again in the new one, oldest first; returns how many were.
    int revalidate(bool carryOver = false);
    // The password-free connection text the store was made for (empty when not recorded).
    QString target() const;
    void setTarget(const QString& text);

    // Employee copy, in the table "employ" so that the list can be loaded from the file
    // with the statement it is loaded with from the server.
    bool hasEmployeeCopy() const;
    void replaceEmployeeCopy(const EmployeeCopy& copy);

    // One write transaction: taken at once, so that the duplicate test and the insert of
    // one swipe cannot interleave with another writer of the file. Rolled back unless
    // committed.
    class WriteTransaction
    {
    public:
        explicit WriteTransaction(LocalStore& store);
        ~WriteTransaction();
        WriteTransaction(const WriteTransaction&) = delete;
        WriteTransaction& operator=(const WriteTransaction&) = delete;
        void commit();

    private:
        LocalStore& m_store;
        bool m_done = false;
    };

    // The first waiting swipe of that number whose instant lies within the window from..to
    // (SwipeWindow::holds).
    std::optional<StoredSwipe> waitingWithin(const QString& num, const QDateTime& from,
                                             const QDateTime& to) const;
    // Whether a swipe of that number at that very second waits already.
    bool isWaiting(const QString& num, const QDateTime& instant) const;
    // Adds a swipe to the outbox; returns its id.
    qint64 enqueue(const StoredSwipe& swipe);
    // The oldest waiting swipes, at most limit of them.
    std::vector<StoredSwipe> oldest(int limit) const;
    // Takes a swipe out of the outbox (nothing when it is gone already).
    void remove(qint64 id);
    // Takes many out in one synced transaction.
    void remove(const std::vector<qint64>& ids);
    int waitingCount() const;

    // Swipes the server refused for a reason sending them again will not change (a
    // constraint, a permission, a trigger): kept aside with the server's message, so that
    // the rest of the outbox goes on. Nothing leaves this list without a command.
    struct RefusedSwipe
    {
        StoredSwipe swipe;
        QString reason;
    };
    // Moves a waiting swipe to the refused list, in one synced transaction.
    void setAside(qint64 id, const QString& reason);
    // Refused swipes, oldest first.
    std::vector<RefusedSwipe> refused() const;
    int refusedCount() const;
    // After a new try: the server took it (or holds it already), or refused it again.
    void removeRefused(qint64 id);
    void updateRefusal(qint64 id, const QString& reason);

private:
    struct FileIdentity
    {
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    static std::optional<FileIdentity> identityOf(const QString& path);
    void exec(const QString& sql);
    void open();
    void openExisting();
    void moveAside();

    QString m_path;
    bool m_readOnly = false;
    QString m_movedAside;
    std::optional<FileIdentity> m_identity;
    std::unique_ptr<SqliteDatabase> m_db;
};
