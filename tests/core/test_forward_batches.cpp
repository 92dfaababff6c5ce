// Catching up after an outage: large queues forwarded in batches that each lock a bounded
// number of employees, so that many terminals forwarding at once never fill the server's
// shared lock table, and every swipe reaches the server exactly once.

#include "attendance/LocalStore.h"
#include "attendance/OutboxForwarder.h"
#include "attendance/ServerSwipeBatch.h"
#include "attendance/StoredSwipe.h"
#include "interchange/DevSchema.h"
#include "platform/ServerRefusal.h"
#include "query/AdoConnection.h"
#include "query/ConnectionString.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"
#include "query/Statements.h"
#include "support/FaultInjectingVfs.h"
#include "support/ManualClock.h"
#include "support/PgTestServer.h"
#include "support/QueuedSwipe.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <barrier>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

StoredSwipe swipeOf(int employee, const QDateTime& at)
{
    return TestSupport::queuedSwipe(QStringLiteral("E%1").arg(employee, 5, 10, QLatin1Char('0')),
                                    QStringLiteral("员工%1").arg(employee), at);
}

const QDateTime kMorning(QDate(2026, 3, 9), QTime(8, 0), Qt::UTC);

// A server whose lock table is as small as PostgreSQL allows: ten locks per session, for a
// few sessions. Batches that locked hundreds of employees each, from a few terminals at
// once, would fill it ("out of shared memory").
class ForwardBatchesTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        PgTestServer::Options options;
        options.settings = {
            QStringLiteral("max_locks_per_transaction=10"), QStringLiteral("max_connections=12"),
            QStringLiteral("max_worker_processes=0"),       QStringLiteral("max_wal_senders=0"),
            QStringLiteral("autovacuum_max_workers=1"),     QStringLiteral("max_prepared_transactions=0")};
        s_server = new PgTestServer(options);
        QString error;
        if (!DevSchema::createServerDatabase(s_server->conninfo(), DevSchema::demoEmployees(), &error))
            throw std::runtime_error(error.toStdString());
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(s_server, nullptr);
        ASSERT_TRUE(m_dir.isValid());
        s_server->psql(QStringLiteral("DELETE FROM sgdjb"));
    }
    static QString target() { return ConnectionString::forServer(s_server->conninfo()); }
    static QString psql(const QString& sql) { return s_server->psql(sql); }
    QString storePath(int terminal) const
    {
        return m_dir.filePath(QStringLiteral("store%1.sqlite").arg(terminal));
    }

    // Swipes of that many employees, the rounds ten minutes apart, queued in terminal 0's store.
    void queueRounds(int employees, int rounds) const
    {
        LocalStore store(storePath(0));
        LocalStore::WriteTransaction transaction(store);
        for (int round = 0; round < rounds; ++round)
            for (int e = 0; e < employees; ++e)
                store.enqueue(swipeOf(e, kMorning.addSecs(600 * round)));
        transaction.commit();
    }
    // After a forward of terminal 0 that failed part way, leaving `waiting` of `total` queued:
    // the server held at least every swipe let go of, and a new forward sends what it lacks,
    // finds the rest recorded, and leaves every swipe on it exactly once.
    static void expectTheNextForwardCompletesEachOnce(const QString& store, int waiting, int total)
    {
        const int onServer = psql(QStringLiteral("SELECT count(*) FROM sgdjb")).toInt();
        EXPECT_GT(waiting, 0);
        EXPECT_GE(onServer, total - waiting);

        OutboxForwarder again(target(), store);
        const OutboxForwarder::Result result = again.forwardAll();
        EXPECT_EQ(result.forwarded, total - onServer);
        EXPECT_EQ(result.alreadyRecorded, onServer - (total - waiting));
        EXPECT_EQ(again.store().waitingCount(), 0);
        EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QString::number(total));
        EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM (SELECT num, d, t FROM sgdjb GROUP BY num, d, t "
                                      "HAVING count(*) > 1) AS twice")),
                  QStringLiteral("0"));
    }

    static PgTestServer* s_server;
    QTemporaryDir m_dir;
};

PgTestServer* ForwardBatchesTest::s_server = nullptr;

// Four terminals come back at once, each with the same 1,500 employees queued a minute
// apart from the others
// counts): every forward succeeds, and the server holds exactly one row per employee.
TEST_F(ForwardBatchesTest, TerminalsCatchingUpAtOnceStayWithinTheLockTableAndRecordEachSwipeOnce)
{
    constexpr int kTerminals = 4;
    constexpr int kEmployees = 1500;
    for (int terminal = 0; terminal < kTerminals; ++terminal) {
        LocalStore store(storePath(terminal));
        LocalStore::WriteTransaction transaction(store);
        for (int e = 0; e < kEmployees; ++e)
            store.enqueue(swipeOf(e, kMorning.addSecs(30 * terminal)));
        transaction.commit();
    }
    ASSERT_EQ(psql(QStringLiteral("SHOW max_locks_per_transaction")), QStringLiteral("10"));

    std::vector<OutboxForwarder::Result> results(kTerminals);
    std::vector<std::string> failures(kTerminals);
    std::barrier start(kTerminals);
    std::vector<std::thread> threads;
    for (int terminal = 0; terminal < kTerminals; ++terminal) {
        threads.emplace_back([&, terminal] {
            try {
                OutboxForwarder forwarder(target(), storePath(terminal));
                forwarder.connect();
                start.arrive_and_wait();
                results[size_t(terminal)] = forwarder.forwardAll();
            } catch (const std::exception& e) {
                failures[size_t(terminal)] = e.what();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    int forwarded = 0;
    int already = 0;
    for (int terminal = 0; terminal < kTerminals; ++terminal) {
        EXPECT_EQ(failures[size_t(terminal)], "") << "terminal " << terminal;
        forwarded += results[size_t(terminal)].forwarded;
        already += results[size_t(terminal)].alreadyRecorded;
        EXPECT_EQ(results[size_t(terminal)].refused, 0);
        EXPECT_EQ(LocalStore(storePath(terminal)).waitingCount(), 0) << "terminal " << terminal;
    }
    EXPECT_EQ(forwarded, kEmployees);
    EXPECT_EQ(already, kEmployees * (kTerminals - 1));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QString::number(kEmployees));
    EXPECT_EQ(
        psql(QStringLiteral("SELECT count(*) FROM (SELECT num FROM sgdjb GROUP BY num HAVING count(*) > 1) "
                            "AS twice")),
        QStringLiteral("0"));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(DISTINCT num) FROM sgdjb WHERE d = '2026-03-09' AND "
                                  "t BETWEEN '08:00:00' AND '08:01:30'")),
              QString::number(kEmployees));
}

// One terminal with a long queue: swipes of one employee far enough apart are all kept,
// each employee's in its order, a swipe within another's window of the same employee is
// not, and a second forward finds nothing left to send.
TEST_F(ForwardBatchesTest, ALongQueueOfOneTerminalArrivesWholeAndInOrder)
{
    constexpr int kEmployees = 300;
    constexpr int kRounds = 12;
    {
        LocalStore store(storePath(0));
        LocalStore::WriteTransaction transaction(store);
        for (int round = 0; round < kRounds; ++round)
            for (int e = 0; e < kEmployees; ++e)
                store.enqueue(swipeOf(e, kMorning.addSecs(600 * round)));
        // Within three minutes of the first round's swipe of employee 7: already recorded.
        store.enqueue(swipeOf(7, kMorning.addSecs(179)));
        transaction.commit();
    }
    OutboxForwarder forwarder(target(), storePath(0));
    const OutboxForwarder::Result result = forwarder.forwardAll();
    EXPECT_EQ(result.forwarded, kEmployees * kRounds);
    EXPECT_EQ(result.alreadyRecorded, 1);
    EXPECT_EQ(forwarder.store().waitingCount(), 0);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QString::number(kEmployees * kRounds));
    EXPECT_EQ(
        psql(QStringLiteral("SELECT string_agg(t::text, ',' ORDER BY t) FROM sgdjb WHERE num = 'E00007'")),
        QStringLiteral("08:00:00,08:10:00,08:20:00,08:30:00,08:40:00,08:50:00,09:00:00,09:10:00,"
                       "09:20:00,09:30:00,09:40:00,09:50:00"));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE name <> '员工' || substr(num, 2)::int")),
              QStringLiteral("0"));

    const OutboxForwarder::Result again = forwarder.forwardAll();
    EXPECT_EQ(again.forwarded + again.alreadyRecorded, 0);
}

// Texts and instants a batch must carry exactly: names with the characters an array's text
// form quotes (quotes, braces, commas, backslashes, blanks, the word NULL, nothing at all),
// a name as long as the column allows, instants before and after the server's own epoch
// and on either side of midnight. Each row arrives as queued; a swipe within the window of
// a row the server holds across midnight is answered with that row, and one exactly three
// minutes after it is recorded.
TEST_F(ForwardBatchesTest, EveryTextAndInstantArrivesAsQueued)
{
    const auto swipe = TestSupport::queuedSwipe;
    const QString longName = QString(20, QChar(u'长'));
    psql(QStringLiteral("INSERT INTO sgdjb (num, name, d, t, opdate) "
                        "VALUES ('E 5', '先到', '2026-03-02', '23:59:00', '1999-01-01')"));
    {
        LocalStore store(storePath(0));
        LocalStore::WriteTransaction transaction(store);
        store.enqueue(swipe(QStringLiteral("E1"), QStringLiteral("\"引号\" {括号}, 逗号"),
                            QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59), Qt::UTC)));
        // One second later, past midnight and the server's epoch: the same employee's
        // duplicate.
        store.enqueue(swipe(QStringLiteral("E1"), QStringLiteral("x"),
                            QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC)));
        store.enqueue(swipe(QStringLiteral("E2"), QStringLiteral("NULL"),
                            QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC)));
        store.enqueue(
            swipe(QStringLiteral("E3"), QString(), QDateTime(QDate(2038, 1, 19), QTime(3, 14, 8), Qt::UTC)));
        StoredSwipe slashed = swipe(QStringLiteral("E4"), QStringLiteral(" back\\slash "),
                                    QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59), Qt::UTC));
        // A processing date in another form the server reads: sent as text, for it to read.
        slashed.opdate = QStringLiteral("1999/01/02");
        store.enqueue(slashed);
        // One it cannot read: refused and set aside, the others go through.
        StoredSwipe undated = swipe(QStringLiteral("E6"), QStringLiteral("y"),
                                    QDateTime(QDate(2026, 3, 3), QTime(0, 0), Qt::UTC));
        undated.opdate = QStringLiteral("kein Datum");
        store.enqueue(undated);
        store.enqueue(
            swipe(QStringLiteral("E 5"), longName, QDateTime(QDate(2026, 3, 3), QTime(0, 1, 59), Qt::UTC)));
        store.enqueue(
            swipe(QStringLiteral("E 5"), longName, QDateTime(QDate(2026, 3, 3), QTime(0, 2), Qt::UTC)));
        transaction.commit();
    }
    OutboxForwarder forwarder(target(), storePath(0));
    std::vector<SwipeOutcome> answered;
    forwarder.onForwarded = [&](const StoredSwipe& queued, const SwipeOutcome& outcome) {
        if (outcome.kind == SwipeOutcome::Kind::AlreadyRecorded)
            answered.push_back(outcome);
        EXPECT_FALSE(outcome.server.isEmpty()) << queued.num.toStdString();
    };
    const OutboxForwarder::Result result = forwarder.forwardAll();
    EXPECT_EQ(result.forwarded, 5);
    EXPECT_EQ(result.alreadyRecorded, 2);
    EXPECT_EQ(result.refused, 1);
    EXPECT_EQ(forwarder.store().waitingCount(), 0);
    EXPECT_EQ(forwarder.store().refusedCount(), 1);
    EXPECT_EQ(psql(QStringLiteral("SELECT string_agg(concat_ws('|', num, name, d, t, opdate), E'\\n' "
                                  "ORDER BY num, d, t) FROM sgdjb")),
              QStringLiteral("E 5|先到|2026-03-02|23:59:00|1999-01-01\n"
                             "E 5|%1|2026-03-03|00:02:00|1999-01-01\n"
                             "E1|\"引号\" {括号}, 逗号|1999-12-31|23:59:59|1999-01-01\n"
                             "E2|NULL|1970-01-01|00:00:00|1999-01-01\n"
                             "E3||2038-01-19|03:14:08|1999-01-01\n"
                             "E4| back\\slash |2099-12-31|23:59:59|1999-01-02")
                  .arg(longName));
    ASSERT_EQ(answered.size(), 2u);
    std::sort(answered.begin(), answered.end(),
              [](const SwipeOutcome& a, const SwipeOutcome& b) { return a.num < b.num; });
    EXPECT_EQ(answered[0].num, QStringLiteral("E 5"));
    EXPECT_EQ(answered[0].name, QStringLiteral("先到"));
    EXPECT_EQ(answered[0].instant, QDateTime(QDate(2026, 3, 2), QTime(23, 59), Qt::UTC));
    EXPECT_EQ(answered[1].num, QStringLiteral("E1"));
    EXPECT_EQ(answered[1].name, QStringLiteral("\"引号\" {括号}, 逗号"));
    EXPECT_EQ(answered[1].instant, QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59), Qt::UTC));
}

// A swipe without a valid date and time is refused before anything is sent, as the server
// refuses a value it cannot hold, so that the forwarder sends the swipes one by one.
TEST_F(ForwardBatchesTest, ASwipeWithoutAnInstantIsRefusedBeforeAnythingIsSent)
{
    AdoConnection connection;
    connection.setConnectionString(target());
    connection.open();
    ServerFeatures* server = connection.backend().serverFeatures();
    ASSERT_NE(server, nullptr);
    StoredSwipe good = swipeOf(1, kMorning);
    StoredSwipe bad = swipeOf(2, kMorning);
    bad.date = QDate();
    EXPECT_THROW(ServerSwipeBatch::forward(*server, {good, bad}), ServerRefusal);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("0"));
    EXPECT_EQ(ServerSwipeBatch::forward(*server, {good}).size(), 1u);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("1"));
}

// The process dies between the server's commits of a long round (many batches) and the
// store letting go of them: the next forward sends what the server lacks, finds the rest
// recorded, and every swipe is on the server exactly once.
TEST_F(ForwardBatchesTest, DeathInTheMiddleOfALongRoundSendsNothingTwice)
{
    constexpr int kEmployees = 250;
    constexpr int kRounds = 20;
    queueRounds(kEmployees, kRounds);
    int waiting = 0;
    {
        OutboxForwarder dying(target(), storePath(0));
        int commits = 0;
        dying.afterCommit = [&](const StoredSwipe&) {
            if (++commits == 3000)
                throw std::runtime_error("killed between the commit and the outbox update");
        };
        EXPECT_THROW(dying.forwardAll(), std::runtime_error);
        waiting = dying.store().waitingCount();
    }
    // The swipes the hook ran for stay waiting.
    expectTheNextForwardCompletesEachOnce(storePath(0), waiting, kEmployees * kRounds);
}

// The store fails while it lets go of batches the server has committed (the disk stops
// syncing): the forward fails with the store's error rather than reporting the round done,
// the swipes not let go of stay waiting, and the next forward finds them recorded, every
// swipe on the server exactly once.
TEST_F(ForwardBatchesTest, AStoreThatFailsWhileLettingGoOfCommittedBatchesLosesNothing)
{
    constexpr int kEmployees = 250;
    constexpr int kRounds = 8;
    queueRounds(kEmployees, kRounds);
    int waiting = 0;
    {
        TestSupport::FaultInjectingVfs vfs;
        OutboxForwarder failing(target(), storePath(0));
        // A whole forward syncs the store about fifteen times, a few for each confirmation
        // (the first one lets go of one batch alone): the fifth sync and all after it fail.
        vfs.arm(TestSupport::FaultInjectingVfs::Operation::Sync, 5, SQLITE_IOERR_FSYNC, true);
        EXPECT_ANY_THROW(failing.forwardAll());
        EXPECT_GT(vfs.faults(), 0);
        vfs.disarm();
        waiting = failing.store().waitingCount();
    }
    EXPECT_LT(waiting, kEmployees * kRounds);
    expectTheNextForwardCompletesEachOnce(storePath(0), waiting, kEmployees * kRounds);
}

// After a failover the swipes the old server confirmed go to the new one in many batches at
// once: those it lacks are written, those it holds are found, one it refuses is set aside
// with its reason while the batches behind it still go, and every one of the others is kept
// under the new server's name.
TEST_F(ForwardBatchesTest, ConfirmedSwipesGoAgainToANewServerInBatchesAndARefusedOneIsSetAside)
{
    constexpr int kEmployees = 100;
    const ManualClock clock(kMorning.addSecs(3600));
    std::vector<StoredSwipe> confirmed;
    for (int round = 0; round < 2; ++round)
        for (int e = 0; e < kEmployees; ++e)
            confirmed.push_back(swipeOf(e, kMorning.addSecs(600 * round)));
    // Longer than the name column holds: refused for good.
    confirmed[137].name = QString(30, QChar(u'长'));
    {
        LocalStore store(storePath(0));
        store.retain(confirmed, QStringLiteral("the old primary"), clock.now());
    }
    // The new server holds the first round of the first 40 employees already.
    psql(QStringLiteral(
        "INSERT INTO sgdjb (num, name, d, t, opdate) SELECT 'E' || lpad(i::text, 5, '0'), "
        "'员工' || i, '2026-03-09', '08:00:00', '1999-01-01' FROM generate_series(0, 39) AS i"));

    OutboxForwarder forwarder(target(), storePath(0), clock);
    const OutboxForwarder::Result result = forwarder.recheckRetained();
    EXPECT_EQ(result.alreadyRecorded, 40);
    EXPECT_EQ(result.refused, 1);
    EXPECT_EQ(result.forwarded, 2 * kEmployees - 40 - 1);
    EXPECT_EQ(int(result.resent.size()), result.forwarded);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QString::number(2 * kEmployees - 1));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM (SELECT num, d, t FROM sgdjb GROUP BY num, d, t "
                                  "HAVING count(*) > 1) AS twice")),
              QStringLiteral("0"));
    const std::vector<LocalStore::RefusedSwipe> refused = forwarder.store().refused();
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused.front().swipe.num, confirmed[137].num);
    const QString now = forwarder.serverIdentity();
    EXPECT_TRUE(forwarder.store().retainedNotFrom(now).empty());
    EXPECT_EQ(forwarder.store().retainedCount(), 2 * kEmployees - 1);
}

// The split itself: no batch locks more employees than allowed or holds more swipes than
// the cap, every swipe is sent once, and each employee's swipes keep their order across
// batches.
TEST(ForwardBatchSplit, BoundedBatchesKeepEachEmployeesOrder)
{
    std::vector<StoredSwipe> swipes;
    // Employee 0 alone has more swipes than a batch may hold.
    for (int i = 0; i < ServerSwipeBatch::kMaxSwipes + 10; ++i)
        swipes.push_back(swipeOf(0, kMorning.addSecs(600 * i)));
    for (int i = 0; i < 500; ++i)
        swipes.push_back(swipeOf(1 + i % 37, kMorning.addSecs(600 * i)));
    for (int employees : {1, 2, 5, 36, 1000}) {
        const std::vector<std::vector<size_t>> batches = ServerSwipeBatch::batches(swipes, employees);
        std::vector<int> sent(swipes.size(), 0);
        std::map<QString, size_t> lastOf;
        for (const std::vector<size_t>& batch : batches) {
            ASSERT_FALSE(batch.empty());
            EXPECT_LE(batch.size(), size_t(ServerSwipeBatch::kMaxSwipes));
            std::set<QString> nums;
            for (size_t i : batch) {
                ++sent[i];
                nums.insert(swipes[i].num);
                const auto last = lastOf.find(swipes[i].num);
                if (last != lastOf.end()) {
                    EXPECT_LT(last->second, i)
                        << "employee " << swipes[i].num.toStdString() << " out of order";
                }
                lastOf[swipes[i].num] = i;
            }
            EXPECT_LE(int(nums.size()), employees);
        }
        EXPECT_EQ(std::count(sent.begin(), sent.end(), 1), std::ptrdiff_t(swipes.size())) << employees;
    }
    // Few employees and few swipes: one batch, as before.
    const std::vector<StoredSwipe> few(swipes.end() - 20, swipes.end());
    EXPECT_EQ(ServerSwipeBatch::batches(few, 50).size(), 1u);
}

} // namespace
