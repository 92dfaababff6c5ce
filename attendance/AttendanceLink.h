#pragma once

#include "attendance/LocalStore.h"
#include "attendance/RecentSwipes.h"
#include "attendance/SwipeOutcome.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class AdoConnection;
class AdoQuery;
class CardRegister;
class Clock;
struct StoredSwipe;

// The terminal's way to a server database that may be out of reach. The employee list
// loaded from the server is copied to the terminal's local store; when the server cannot
// be reached at start the list comes from that copy. A swipe that cannot reach the server
// is queued in the store's outbox, with the answer an online swipe would have shown, and a
// worker thread with its own connection hands the queue to the server in the background,
// retrying with growing pauses. The window never waits for that.
class AttendanceLink : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        // Bound on waiting for the server on the window's connection: the clock stands
        // still for no longer than this when the network goes quiet.
        int windowTimeoutMs = 1000;
        // The tighter bound while a swipe waits: its outcome shows (queued when the server
        // is silent) before the clock could miss a second.
        int swipeTimeoutMs = 250;
        // The same for the forwarder's connection, which nobody waits for.
        int forwardTimeoutMs = 3000;
        // Pauses between tries while the server cannot be reached double from the first
        // up to the longest.
        int firstRetryMs = 1000;
        int longestRetryMs = 15000;
        // The terminal's clock, for when a server confirmed a swipe (null: the system's).
        const Clock* clock = nullptr;
        // While the store retains confirmed swipes: how often the forwarder asks which
        // server it reaches, so that a failover nobody swiped through is found as well.
        int serverCheckMs = 10000;
        // How often the counts the window shows are read again from the store, which
        // other programs change too (kqdb forward --retry-refused).
        int storeWatchMs = 2000;
        // How long the line saying that swipes were sent again stays up.
        int noticeMs = 10 * 60 * 1000;
        // A database file rather than a server: another program holding the file locked
        // counts as the database being away (the swipe waits in the store, with its
        // instant, and is written once the file is free), and the store is made only when
        // a swipe first needs it, so that a terminal whose file is never held leaves
        // nothing behind.
        bool file = false;
    };

    // The link for a database file (see Options::file): waits for the file as long as a
    // swipe waits for a silent server, then keeps the swipe.
    static std::unique_ptr<AttendanceLink> forFile(AdoConnection& connection);
    static Options fileOptions();

    // The link for a connection that names a server; none for a database file, which is
    // there or not and has nothing to wait for.
    static std::unique_ptr<AttendanceLink> forConnection(AdoConnection& connection);
    static std::unique_ptr<AttendanceLink> forConnection(AdoConnection& connection, const Options& options);

    // Any connection, with the store at storePath. Starts the forwarder.
    AttendanceLink(AdoConnection& connection, const QString& storePath, const Options& options);
    AttendanceLink(AdoConnection& connection, const QString& storePath);
    ~AttendanceLink() override;

    // Loads "SELECT * FROM employ" into the query as the window's table load does, logging
    // one error line on failure. When the server cannot be reached the query is loaded
    // from the copy instead (a snapshot nobody can delete from), or left closed when there
    // is none; serverAnswersAgain() then tells when a new load could reach the server.
    // Returns the row count, -1 when the query stays closed. The card holders, when given,
    // come from where the list came from, and go into the copy with it.
    int loadEmployees(AdoQuery* query, CardRegister* cards = nullptr);

    // One card swipe: on the server while it answers and nothing waits, else queued.
    SwipeOutcome swipe(AdoQuery* employees, AdoQuery& recordQry, const Clock& clock);

    bool isOffline() const { return m_offline; }
    // Whether the last list load found the server silent (the list is the copy's, or none).
    bool listFoundServerSilent() const { return m_listFoundSilent; }
    int waitingCount() const { return m_waiting; }
    // Swipes the server refused for good, kept aside in the store until a command sends
    // them again (kqdb forward --retry-refused).
    int refusedCount() const { return m_refused; }
    QString storePath() const { return m_storePath; }
    // Why the local store cannot be written (the trouble line's text), empty while it can:
    // then swipes made while the server is down cannot be kept.
    QString storeTrouble() const { return m_storeTrouble; }
    // What the terminal did on its own that the operator should hear of for a while
    // (confirmed swipes sent again to a new server); empty when nothing.
    QString notice() const;

    // Wakes the forwarder for a round now.
    void forwardNow();
    // For fault tests: runs in the forwarder after the server committed a swipe and before
    // the outbox is updated; may throw to abandon the round there.
    void setAfterCommitHook(std::function<void(const StoredSwipe&)> hook);

signals:
    // From any thread; connect with a queued or automatic connection.
    void stateChanged(bool offline, int waiting);
    // From any thread, whenever the number of refused swipes changes.
    void refusedChanged(int refused);
    // From the forwarder's thread: the server answers again after the list came from the
    // copy, or could not be loaded, because it did not answer at the last load. The list is
    // worth loading again.
    void serverAnswersAgain();
    // From any thread, when notice() changes.
    void noticeChanged(const QString& text);

private:
    // Opens the store and starts the forwarder; false (with storeTrouble() saying why)
    // when the store cannot be opened.
    bool openStore();
    // Whether the failure means the database is away for now (a silent server, a file
    // another program holds) rather than refusing this swipe.
    bool away(const std::exception_ptr& failure) const;
    void setOffline(bool offline);
    void publish();
    void runForwarder();
    SwipeOutcome swipeOnServer(AdoQuery* employees, AdoQuery& recordQry, const Clock& pressed);
    // One error-log line for a swipe the server refused, written on the window's thread.
    void logRefusal(const StoredSwipe& swipe, const QString& reason);
    int nextRetry(int retryMs) const;
    // Keeps a swipe the server recorded online, and has the forwarder check the retained
    // ones when the server is not the one that confirmed the swipe before.
    void retainConfirmed(const SwipeOutcome& outcome);
    // Adds a line to the notice, shown for noticeMs; an empty text takes the notice down.
    void setNotice(const QString& text);
    // Logs and shows what the store found damaged and mended, or its log found deleted.
    void reportStore(LocalStore& store);
    // On the window's thread: one error-log line.
    void logLater(const QString& context, const QString& message);

    AdoConnection& m_connection;
    Options m_options;
    QString m_storePath;
    QString m_connectionString;
    QString m_storeTrouble;
    std::unique_ptr<LocalStore> m_store;
    AdoConnection* m_copyConnection = nullptr;
    RecentSwipes m_recent;
    std::atomic<bool> m_offline{false};
    // The last list load found the server silent: the list is the copy's, or none.
    std::atomic<bool> m_listFromCopy{false};
    bool m_listFoundSilent = false;
    std::atomic<int> m_waiting{0};
    std::atomic<int> m_refused{0};
    const Clock& m_clock;
    QString m_lastServer;
    QStringList m_notices;
    QElapsedTimer m_noticeSince;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_kicked = false;
    bool m_checkServer = true;
    std::optional<LocalStore::EmployeeCopy> m_pendingCopy;
    std::function<void(const StoredSwipe&)> m_afterCommit;
    std::thread m_worker;
};
