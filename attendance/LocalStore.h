#pragma once

#include "attendance/StoredSwipe.h"
#include "attendance/SwipeLedger.h"
#include "attendance/SwipeOutcome.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <map>
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
        // The card holders (card number, employee number) when the server has a card
        // table; none leaves the copy without one, as the server is.
        std::optional<QList<QPair<QString, QString>>> cards;
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
    // What was found damaged (the store or the record of swipes beside it), where it was
    // moved, and how many waiting swipes were queued again from the other copy.
    struct Damage
    {
        QString damaged;
        QString movedTo;
        int requeued = 0;
        int retained = 0;
        // The record beside the store was damaged; the store itself was sound.
        bool record = false;
        // The store was gone (deleted) and made again from the record; nothing moved aside.
        bool remade = false;
    };
    // Holds every waiting and retained swipe against the record beside the store (SwipeLedger),
    // each in both places: at opening, and before each round of forwarding reads the queue.
    // A swipe the record holds and the store lacks or holds otherwise means the store is
    // damaged (a damaged page, a log frame SQLite read as the end of its log, a deleted
    // log): the store is moved aside and made anew from the record. A record with lines
    // that fail their check is moved aside and written anew from the store. What the store
    // holds and the record lacks (a crash between the two writes) is added to the record.
    void verify();
    // How many lines beyond two per live swipe the record may hold before verify() writes
    // it anew with only what is live: every line is read and checked at each verify().
    static constexpr int kRecordSlack = 32;
    // The damage verify() (or opening) found and mended since the last call, if any.
    std::optional<Damage> takeDamage();
    // Whether the store's write-ahead log was found deleted (by a clean-up of "*-wal"
    // files) since the last call; what it held was written into the store at once.
    bool takeLogGone();
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

    // Swipes a server confirmed, kept for a while after they left the outbox (or were
    // recorded online at once): with asynchronous replication a failover can lose what the
    // old primary confirmed, so a terminal that reaches another server sends again those
    // of them the new one lacks. Keyed by number and instant; a swipe confirmed again
    // replaces its earlier entry.
    struct RetainedSwipe
    {
        StoredSwipe swipe;
        // The server that confirmed it (ServerIdentity), and when, on the terminal's clock.
        QString server;
        QDateTime confirmedAt;
    };
    // How long a confirmed swipe is kept: the setting "retainConfirmedMinutes" under
    // Software/Tavelo, kDefaultRetentionMinutes when missing or unusable.
    static int retentionMinutes();
    static constexpr int kDefaultRetentionMinutes = 15;
    // Keeps swipes the server confirmed, in one synced transaction; those confirmed before
    // confirmedAt minus the retention time leave.
    void retain(const std::vector<StoredSwipe>& swipes, const QString& server, const QDateTime& confirmedAt);
    // The swipe a server has just recorded, kept under that server's name; nothing for any
    // other outcome, or when the server did not say who it is.
    void retainRecorded(const SwipeOutcome& outcome, const QDateTime& confirmedAt);
    // Waiting swipes the server has committed: out of the outbox and, when the server is
    // known, retained, in one synced transaction. The ids are outbox ids.
    void confirm(const std::vector<StoredSwipe>& swipes, const QString& server, const QDateTime& confirmedAt);
    // Lets go of one retained swipe (by number and instant).
    void forgetRetained(const StoredSwipe& swipe);
    // Lets go of the retained swipes confirmed before that moment.
    int forgetRetainedBefore(const QDateTime& moment);
    // Retained swipes that another server than this one confirmed, oldest first.
    std::vector<RetainedSwipe> retainedNotFrom(const QString& server) const;
    int retainedCount() const;
    std::vector<RetainedSwipe> retained() const;

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
    // The same for a refused swipe a server has now committed: retained as confirm() does.
    void confirmRefused(const StoredSwipe& swipe, const QString& server, const QDateTime& confirmedAt);
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
    // The record's entries: a live one (waiting, retained) once the store has committed it,
    // a gone one before, so that after a crash between the two the record never holds a
    // swipe the store let go of on purpose.
    void noteLive(std::vector<SwipeLedger::Entry> entries);
    void noteGone(const std::vector<StoredSwipe>& swipes);
    SwipeLedger::Live storeLive() const;
    std::vector<StoredSwipe> selectSwipes(const QString& sql, qint64 value) const;
    void restoreFrom(const SwipeLedger::Live& live);
    void open();
    void openExisting();
    void moveAside();

    QString m_path;
    bool m_readOnly = false;
    QString m_movedAside;
    std::unique_ptr<SwipeLedger> m_ledger;
    std::vector<SwipeLedger::Entry> m_pendingLive;
    bool m_inTransaction = false;
    // Opening found the store damaged and made a new one: the record fills it.
    bool m_madeAfterDamage = false;
    std::optional<Damage> m_damage;
    bool m_logGone = false;
    bool m_logGoneSaid = false;
    std::optional<FileIdentity> m_identity;
    std::unique_ptr<SqliteDatabase> m_db;
};
