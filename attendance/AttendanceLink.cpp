#include "attendance/AttendanceLink.h"

#include "attendance/CardRegister.h"
#include "attendance/CardSwipe.h"
#include "attendance/OutboxForwarder.h"
#include "attendance/OutboxSwipe.h"
#include "attendance/TroubleText.h"
#include "log/ErrMsg.h"
#include "platform/Clock.h"
#include "platform/DateTimeText.h"
#include "platform/FixedClock.h"
#include "platform/ServerLockWait.h"
#include "platform/ServerRefusal.h"
#include "platform/ServerUnreachable.h"
#include "platform/SystemClock.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/Statements.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <exception>

namespace {

// The shortest bound a connection takes: a read that would wait gives up at once.
constexpr int kNoWaitMs = 1;

bool namesServer(const QString& connectionString)
{
    try {
        return ConnectionString(connectionString).namesServer();
    } catch (const Exception&) {
        return false;
    }
}

LocalStore::EmployeeCopy copyOf(const AdoQuery& query)
{
    LocalStore::EmployeeCopy copy;
    const int columns = query.fieldCount();
    for (int c = 0; c < columns; ++c) {
        copy.columns.append(query.fieldName(c));
        copy.widths.append(query.fieldDisplayWidth(c));
    }
    const int rows = query.recordCount();
    copy.values.reserve(qsizetype(rows) * columns);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            copy.values.append(query.valueAsString(r, c));
    }
    return copy;
}

// The log's words for a store deleted under the terminal and made again, whichever of the
// terminal's two handles on it finds that first.
QString storeMadeAgain(const QString& path, int requeued)
{
    return QStringLiteral("The local store '%1' was gone (deleted, or its log lost); it was made again, and "
                          "the swipes waiting in it (%2) queued again.")
        .arg(path)
        .arg(requeued);
}

} // namespace

std::unique_ptr<AttendanceLink> AttendanceLink::forConnection(AdoConnection& connection)
{
    return forConnection(connection, Options());
}

std::unique_ptr<AttendanceLink> AttendanceLink::forConnection(AdoConnection& connection,
                                                              const Options& options)
{
    const QString text = connection.connectionString();
    if (!namesServer(text))
        return nullptr;
    return std::make_unique<AttendanceLink>(connection, LocalStore::pathFor(text), options);
}

AttendanceLink::AttendanceLink(AdoConnection& connection, const QString& storePath)
    : AttendanceLink(connection, storePath, Options())
{
}

AttendanceLink::Options AttendanceLink::fileOptions()
{
    Options options;
    options.file = true;
    // The window's other waits for the file keep the file's own bound.
    options.windowTimeoutMs = 0;
    // A terminal's own commit takes milliseconds; past this the file is held by a program
    // that takes longer, and the first swipe that finds it so still makes the store.
    options.swipeTimeoutMs = 150;
    // The forwarder waits on the file's lock itself, and finds it free within moments.
    options.forwardTimeoutMs = 2000;
    options.firstRetryMs = 500;
    options.longestRetryMs = 2000;
    return options;
}

std::unique_ptr<AttendanceLink> AttendanceLink::forFile(AdoConnection& connection)
{
    return std::make_unique<AttendanceLink>(connection, LocalStore::pathFor(connection.connectionString()),
                                            fileOptions());
}

AttendanceLink::AttendanceLink(AdoConnection& connection, const QString& storePath, const Options& options)
    : m_connection(connection), m_options(options), m_storePath(storePath),
      m_connectionString(connection.connectionString()),
      m_clock(options.clock ? *options.clock : static_cast<const Clock&>(SystemClock::instance()))
{
    m_connection.setNetworkTimeout(m_options.windowTimeoutMs);
    // Swipes a file terminal kept from an earlier session are written as soon as it can.
    if (!m_options.file || QFileInfo::exists(m_storePath))
        openStore();
}

bool AttendanceLink::openStore()
{
    try {
        m_store = std::make_unique<LocalStore>(m_storePath);
        reportStore(*m_store);
        m_store->setTarget(LocalStore::displayText(m_connectionString));
        m_waiting = m_store->waitingCount();
        m_refused = m_store->refusedCount();
    } catch (const Exception& error) {
        // Without a store the terminal works as it does without a server link: online only,
        // and the window says that swipes made while the server is down cannot be kept.
        m_store.reset();
        m_storeTrouble = TroubleText::storeTrouble(m_storePath);
        try {
            ErrMsg::LogFailure(QStringLiteral("opening the local store"), error);
        } catch (const Exception&) {
        }
        return false;
    }
    m_copyConnection = new AdoConnection(this);
    m_copyConnection->setConnectionString(ConnectionString::forFile(m_storePath));
    m_copyConnection->setMode(AdoConnection::Mode::Read);
    // Swipes left from an earlier session are sent as soon as the server answers, and the
    // confirmed ones kept are checked against it (the server may have changed meanwhile).
    {
        std::lock_guard lock(m_mutex);
        m_kicked = m_waiting > 0 || m_store->retainedCount() > 0;
    }
    m_worker = std::thread([this] { runForwarder(); });
    return true;
}

bool AttendanceLink::away(const std::exception_ptr& failure) const
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const ServerUnreachable&) {
        return true;
    } catch (const DatabaseError& error) {
        return m_options.file && error.trouble() == DatabaseError::Trouble::Locked;
    } catch (...) {
    }
    return false;
}

AttendanceLink::~AttendanceLink()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void AttendanceLink::setAfterCommitHook(std::function<void(const StoredSwipe&)> hook)
{
    std::lock_guard lock(m_mutex);
    m_afterCommit = std::move(hook);
}

void AttendanceLink::forwardNow()
{
    {
        std::lock_guard lock(m_mutex);
        m_kicked = true;
    }
    m_wake.notify_all();
}

void AttendanceLink::setOffline(bool offline)
{
    m_offline = offline;
    publish();
}

void AttendanceLink::publish()
{
    emit stateChanged(m_offline, m_waiting);
}

int AttendanceLink::loadEmployees(AdoQuery* query, CardRegister* cards)
{
    const QString statement = QStringLiteral("SELECT * FROM ") + Statements::kEmployTable;
    if (!query)
        return -1;
    if (cards)
        cards->clear();
    // A list loaded before from the copy is loaded from the server again.
    query->setConnection(&m_connection);
    m_listFromCopy = false;
    m_listFoundSilent = false;
    try {
        CommFunc::LoadStatement(*query, statement);
        if (cards)
            CardRegister::loadLogged(*cards, m_connection);
        if (m_store) {
            {
                std::lock_guard lock(m_mutex);
                m_pendingCopy = copyOf(*query);
                if (cards && cards->present())
                    m_pendingCopy->cards = cards->entries();
                m_kicked = true;
            }
            m_wake.notify_all();
        }
        return query->recordCount();
    } catch (const ServerUnreachable& error) {
        // libpq's messages run over several lines; the log keeps one line per failure.
        ErrMsg::LogFailure(statement,
                           ServerUnreachable(QStringLiteral("The database server could not be reached: ") +
                                             error.message().simplified()));
        query->close();
        if (!m_store)
            return -1;
        m_listFromCopy = true;
        m_listFoundSilent = true;
        setOffline(true);
        forwardNow();
        if (!m_store->hasEmployeeCopy())
            return -1;
        try {
            query->setConnection(m_copyConnection);
            CommFunc::LoadStatement(*query, statement);
            if (cards)
                CardRegister::loadLogged(*cards, *m_copyConnection);
            return query->recordCount();
        } catch (const Exception& copyError) {
            ErrMsg::LogFailure(statement, copyError);
            query->close();
            return -1;
        }
    } catch (const Exception& error) {
        ErrMsg::LogFailure(statement, error);
        query->close();
        return -1;
    }
}

SwipeOutcome AttendanceLink::swipeOnServer(AdoQuery* employees, AdoQuery& recordQry, const Clock& pressed)
{
    // Bounded tighter than other waits on the window's connection; the list load at start
    // may take longer without the operator standing at the counter.
    m_connection.setNetworkTimeout(m_options.swipeTimeoutMs);
    try {
        SwipeOutcome outcome = CardSwipe::attempt(employees, recordQry, pressed);
        m_connection.setNetworkTimeout(m_options.windowTimeoutMs);
        return outcome;
    } catch (...) {
        m_connection.setNetworkTimeout(m_options.windowTimeoutMs);
        throw;
    }
}

SwipeOutcome AttendanceLink::swipe(AdoQuery* employees, AdoQuery& recordQry, const Clock& clock)
{
    // The swipe's instant is the moment the card was presented, not the end of a wait for
    // the network: every reading of the clock in this swipe gives that moment.
    const FixedClock pressed(clock.now());
    // While swipes wait, a new one queues behind them: the server sees them in order, and
    // the first of two close swipes is the one that counts.
    if (!m_store || (!m_offline && m_waiting == 0)) {
        try {
            const SwipeOutcome outcome = swipeOnServer(employees, recordQry, pressed);
            if (m_store) {
                m_recent.add(outcome);
                retainConfirmed(outcome);
            }
            return outcome;
        } catch (const ServerRefusal& refusal) {
            if (!m_store)
                return CardSwipe::failed(employees, pressed, std::current_exception());
            // Refused for good (a constraint, a permission, a trigger): kept aside with
            // the reason like a queued swipe the server refuses, not lost without a word.
            try {
                StoredSwipe kept;
                kept.num = employees->fieldAsString(Statements::kNum);
                kept.name = employees->fieldAsString(Statements::kName);
                const QDateTime now = pressed.now();
                kept.date = now.date();
                kept.time = QTime(now.time().hour(), now.time().minute(), now.time().second());
                kept.opdate = Statements::kFixedOpDate;
                kept.id = m_store->enqueue(kept);
                m_store->setAside(kept.id, refusal.message());
                m_refused = m_store->refusedCount();
                logRefusal(kept, refusal.message());
                emit refusedChanged(m_refused);
            } catch (...) {
            }
            // Not recorded: the status line says so for this employee, and the red line
            // counts the swipe among the refused ones.
            return CardSwipe::failed(employees, pressed, std::current_exception());
        } catch (...) {
            // A file's store is made when a swipe first needs it; without a store the
            // swipe fails and says why.
            const std::exception_ptr failure = std::current_exception();
            if (!away(failure) || !(m_store || (m_options.file && openStore())))
                return CardSwipe::failed(employees, pressed, failure);
            // The insert may have reached the server before the answer was lost; then the
            // forward finds it within the window and drops the queued copy.
            setOffline(true);
        }
    }
    SwipeOutcome outcome;
    try {
        // A store deleted or replaced since it was opened is made again before the swipe
        // goes into it, with the swipes that waited in it.
        const int carried = m_store->revalidate(true);
        reportStore(*m_store);
        if (carried > 0) {
            try {
                ErrMsg::LogFailure(QStringLiteral("queueing a swipe"),
                                   DatabaseError(storeMadeAgain(m_storePath, carried)));
            } catch (const Exception&) {
            }
        }
        // A file held by a writer can still be read: a record another terminal made
        // within the three minutes answers the swipe as it would have been answered at
        // once, rather than a queued swipe the file later finds recorded.
        if (m_options.file) {
            // Not waited for: a writer that keeps readers out as well (the rollback journal)
            // leaves the answer to the outbox.
            m_connection.setNetworkTimeout(kNoWaitMs);
            const std::optional<SwipeOutcome> recorded =
                CardSwipe::recordedWithin(employees, recordQry, pressed);
            m_connection.setNetworkTimeout(m_options.windowTimeoutMs);
            if (recorded)
                return *recorded;
        }
        outcome = OutboxSwipe::run(employees, *m_store, pressed, &m_recent);
        m_waiting = m_store->waitingCount();
    } catch (...) {
        SwipeOutcome failed = CardSwipe::failed(employees, pressed, std::current_exception());
        failed.reason = TroubleText::storeSwipeReason(failed.reason);
        return failed;
    }
    publish();
    forwardNow();
    return outcome;
}

void AttendanceLink::retainConfirmed(const SwipeOutcome& outcome)
{
    if (outcome.kind != SwipeOutcome::Kind::Recorded || outcome.server.isEmpty())
        return;
    try {
        m_store->retainRecorded(outcome, m_clock.now());
    } catch (const Exception& error) {
        // Recorded all the same; only a failover right now could lose it.
        logLater(QStringLiteral("keeping a confirmed swipe"), error.message());
    }
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        changed = !m_lastServer.isEmpty() && m_lastServer != outcome.server;
        m_lastServer = outcome.server;
        if (changed) {
            m_checkServer = true;
            m_kicked = true;
        }
    }
    if (changed)
        m_wake.notify_all();
}

QString AttendanceLink::notice() const
{
    std::lock_guard lock(m_mutex);
    return m_notices.join(u'\n');
}

void AttendanceLink::setNotice(const QString& text)
{
    QString now;
    {
        std::lock_guard lock(m_mutex);
        if (text.isEmpty()) {
            if (m_notices.isEmpty())
                return;
            m_notices.clear();
        } else {
            m_notices.removeAll(text);
            m_notices.append(text);
            m_noticeSince.start();
        }
        now = m_notices.join(u'\n');
    }
    emit noticeChanged(now);
}

void AttendanceLink::reportStore(LocalStore& store)
{
    if (const std::optional<LocalStore::Damage> damage = store.takeDamage()) {
        if (damage->remade) {
            // Deleted while the terminal ran: made again, as the window's own handle does
            // when it finds it gone first.
            if (damage->requeued > 0)
                logLater(QStringLiteral("queueing a swipe"),
                         storeMadeAgain(damage->damaged, damage->requeued));
        } else {
            const QString message =
                damage->record
                    ? QStringLiteral(
                          "The record of swipes kept beside the local store, '%1', was damaged; it was "
                          "moved to '%2' and written again from the store, which holds every swipe.")
                          .arg(damage->damaged, damage->movedTo)
                    : QStringLiteral(
                          "The local store '%1' was damaged or lost swipes; it was moved to '%2' and made "
                          "again from the record of swipes kept beside it: %3 waiting swipes queued "
                          "again, %4 confirmed ones kept.")
                          .arg(damage->damaged, damage->movedTo)
                          .arg(damage->requeued)
                          .arg(damage->retained);
            logLater(QStringLiteral("checking the local store"), message);
            setNotice(damage->record ? TroubleText::recordRecovered()
                                     : TroubleText::storeRecovered(damage->requeued));
        }
    }
    if (store.takeLogGone()) {
        logLater(
            QStringLiteral("checking the local store"),
            QStringLiteral("The log of the local store '%1' (%1-wal) was deleted while the terminal ran; "
                           "what it held was written into the store, and every swipe is also kept in "
                           "the record beside it.")
                .arg(store.filePath()));
        setNotice(TroubleText::storeLogGone());
    }
}

void AttendanceLink::logLater(const QString& context, const QString& message)
{
    // The log line names the active window: written on the window's thread, now when this is it.
    if (QThread::currentThread() == thread()) {
        try {
            ErrMsg::LogFailure(context, DatabaseError(message));
        } catch (const Exception&) {
        }
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [context, message] {
            try {
                ErrMsg::LogFailure(context, DatabaseError(message));
            } catch (const Exception&) {
            }
        },
        Qt::QueuedConnection);
}

int AttendanceLink::nextRetry(int retryMs) const
{
    return std::min(std::max(retryMs * 2, m_options.firstRetryMs), m_options.longestRetryMs);
}

void AttendanceLink::runForwarder()
{
    using namespace std::chrono;
    std::unique_ptr<OutboxForwarder> forwarder;
    try {
        forwarder = std::make_unique<OutboxForwarder>(m_connectionString, m_storePath, m_clock);
    } catch (const Exception&) {
        return;
    }
    forwarder->connection().setNetworkTimeout(m_options.forwardTimeoutMs);
    forwarder->onRefused = [this, &forwarder](const StoredSwipe& swipe, const QString& reason) {
        m_refused = forwarder->store().refusedCount();
        m_waiting = forwarder->store().waitingCount();
        QMetaObject::invokeMethod(
            this, [this, swipe, reason] { logRefusal(swipe, reason); }, Qt::QueuedConnection);
        emit refusedChanged(m_refused);
        publish();
    };
    forwarder->onForwarded = [this](const StoredSwipe&, const SwipeOutcome& outcome) {
        m_recent.add(outcome);
    };
    // Counted once for each confirmation: a catch-up of thousands would otherwise count the
    // outbox and repaint the status line for every swipe.
    forwarder->onSettled = [this, &forwarder] {
        m_waiting = forwarder->store().waitingCount();
        publish();
    };
    forwarder->onResent = [this](const StoredSwipe& swipe) {
        logLater(QStringLiteral("checking confirmed swipes on a new server"),
                 QStringLiteral("The swipe %1 %2 %3 was confirmed by another server and is missing on "
                                "this one; it was sent again.")
                     .arg(swipe.num, swipe.name, DateTimeText::dateTime(swipe.instant())));
    };

    int retryMs = 0;
    // A refusal repeats at every try; the log gets it once, and again only when it changes.
    QByteArray lastRefusal;
    // A lock that holds the swipes up is logged when it starts and when it ends.
    QElapsedTimer lockHeld;
    QElapsedTimer sinceTry;
    sinceTry.start();
    QElapsedTimer sinceCheck;
    for (;;) {
        std::optional<LocalStore::EmployeeCopy> copy;
        bool kicked = false;
        bool checkServer = false;
        {
            std::unique_lock lock(m_mutex);
            const auto woken = [this] { return m_stop || m_kicked; };
            // Awake now and then in any case: the counts follow the store, which other
            // programs change, and a retained swipe's server is checked.
            qint64 waitMs = m_options.storeWatchMs;
            if (retryMs > 0)
                waitMs = std::min<qint64>(waitMs, std::max<qint64>(0, retryMs - sinceTry.elapsed()));
            m_wake.wait_for(lock, milliseconds(waitMs), woken);
            if (m_stop)
                return;
            kicked = m_kicked;
            m_kicked = false;
            checkServer = m_checkServer;
            copy.swap(m_pendingCopy);
            forwarder->afterCommit = m_afterCommit;
        }
        bool noticeOver = false;
        {
            std::lock_guard lock(m_mutex);
            noticeOver = !m_notices.isEmpty() && m_noticeSince.elapsed() >= m_options.noticeMs;
        }
        if (noticeOver)
            setNotice({});
        bool retains = false;
        try {
            // The window's handle may have made the store anew after it was deleted.
            forwarder->store().revalidate();
            reportStore(forwarder->store());
            if (copy)
                forwarder->store().replaceEmployeeCopy(*copy);
            const int waiting = forwarder->store().waitingCount();
            const int refused = forwarder->store().refusedCount();
            retains = forwarder->store().retainedCount() > 0;
            const bool waitingChanged = waiting != m_waiting.exchange(waiting);
            if (refused != m_refused.exchange(refused))
                emit refusedChanged(refused);
            if (waitingChanged)
                publish();
        } catch (const Exception&) {
            // A copy that could not be written leaves the previous one; the outbox is read
            // again at the next round.
        }
        const bool checkDue = retains && (checkServer || !sinceCheck.isValid() ||
                                          sinceCheck.elapsed() >= m_options.serverCheckMs);
        const bool forwardDue = m_offline || m_waiting > 0;
        if (!forwardDue && !checkDue) {
            retryMs = 0;
            continue;
        }
        if (retryMs > 0 && !kicked && sinceTry.elapsed() < retryMs)
            continue;
        sinceTry.restart();
        try {
            forwarder->connect();
            if (retains) {
                // First the swipes a changed server may lack, at their own instants, then
                // the queue: the earlier of two close swipes is the one that counts.
                const OutboxForwarder::Result resent = forwarder->recheckRetained();
                {
                    std::lock_guard lock(m_mutex);
                    m_checkServer = false;
                }
                sinceCheck.restart();
                if (!resent.resent.empty()) {
                    const QString text = TroubleText::resentSwipes(int(resent.resent.size()));
                    logLater(QStringLiteral("checking confirmed swipes on a new server"),
                             QStringLiteral("%1 swipes confirmed by another server were missing on this one "
                                            "and were sent again.")
                                 .arg(resent.resent.size()));
                    setNotice(text);
                }
            }
            try {
                forwarder->forwardAll();
            } catch (...) {
                reportStore(forwarder->store());
                throw;
            }
            reportStore(forwarder->store());
            m_waiting = forwarder->store().waitingCount();
            // The outbox is empty: the terminal keeps no second connection to the server
            // (a pooled or a direct one) until something waits again.
            forwarder->connection().close();
            retryMs = 0;
            lastRefusal.clear();
            if (lockHeld.isValid()) {
                logLater(QStringLiteral("forwarding queued swipes"),
                         QStringLiteral("The lock that held up the waiting swipes was released after %1 s; "
                                        "they were sent.")
                             .arg(lockHeld.elapsed() / 1000));
                lockHeld.invalidate();
            }
            setOffline(false);
            // Nothing waits: no second connection is kept open beside the window's.
            forwarder->connection().close();
            if (m_listFromCopy.exchange(false))
                emit serverAnswersAgain();
        } catch (const ServerLockWait& error) {
            if (!lockHeld.isValid()) {
                lockHeld.start();
                logLater(QStringLiteral("forwarding queued swipes"),
                         QStringLiteral("A lock on the server holds up the waiting swipes; they are sent "
                                        "when it is released: %1")
                             .arg(error.message().simplified()));
            }
            m_offline = true;
            retryMs = nextRetry(retryMs);
        } catch (const ServerUnreachable&) {
            m_offline = true;
            retryMs = nextRetry(retryMs);
        } catch (const Exception& error) {
            if (away(std::current_exception())) {
                // The file is still held by another program: tried again shortly.
                m_offline = true;
                retryMs = nextRetry(retryMs);
                forwarder->connection().close();
                publish();
                continue;
            }
            // Refused by the database for a reason that is not one swipe's (a missing
            // table, the schema; a swipe's own refusal was set aside): the swipes stay queued,
            // and the next try comes after a longer pause as well. Somebody has to fix the
            // server, so it is logged, on the window's thread, since the log line names the
            // active window.
            const QByteArray message = error.message().toUtf8();
            if (message != lastRefusal) {
                lastRefusal = message;
                QMetaObject::invokeMethod(
                    this,
                    [refusal = std::current_exception()] {
                        try {
                            std::rethrow_exception(refusal);
                        } catch (const Exception& queued) {
                            ErrMsg::LogFailure(QStringLiteral("forwarding queued swipes"), queued);
                        }
                    },
                    Qt::QueuedConnection);
            }
            retryMs = nextRetry(retryMs);
        } catch (...) {
            retryMs = nextRetry(retryMs);
        }
        if (retryMs > 0) {
            // A connection that failed may be half open; the next round starts afresh.
            forwarder->connection().close();
            try {
                m_waiting = forwarder->store().waitingCount();
            } catch (const Exception&) {
            }
            publish();
        }
    }
}

void AttendanceLink::logRefusal(const StoredSwipe& swipe, const QString& reason)
{
    try {
        ErrMsg::LogFailure(QStringLiteral("refused swipe %1 %2 %3 set aside (kqdb outbox, kqdb forward "
                                          "--retry-refused)")
                               .arg(swipe.num, swipe.name, DateTimeText::dateTime(swipe.instant())),
                           ServerRefusal(reason, {}));
    } catch (const Exception&) {
        // The log itself failed; the swipe is kept aside all the same and counted on the
        // window's red line.
    }
}
