// The terminal through a connection pooler (PgBouncer, Debian's) in front of a throwaway
// server, in transaction mode with a pool of 5 server connections and in session mode:
// the same swipes, the same single row per employee and instant, and nothing of one
// client's session reaching another's.

#include "attendance/AttendanceTerminal.h"
#include "attendance/CardSwipe.h"
#include "attendance/LocalStore.h"
#include "attendance/OutboxForwarder.h"
#include "attendance/ServerSwipeBatch.h"
#include "attendance/StoredSwipe.h"
#include "platform/ServerRefusal.h"
#include "query/AdoConnection.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/DatabaseTarget.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"
#include "query/Statements.h"
#include "support/ManualClock.h"
#include "support/PgTestPooler.h"
#include "support/ServerSuite.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"
#include "support/ToolRun.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Kind = SwipeOutcome::Kind;
using TestSupport::clockAt;
using Mode = PgTestPooler::Mode;

class PoolerTest : public ServerSuite, public ::testing::WithParamInterface<Mode>
{
protected:
    void SetUp() override
    {
        ServerSuite::SetUp();
        m_pooler = std::make_unique<PgTestPooler>(server(), GetParam(), poolSize());
    }
    void TearDown() override
    {
        m_pooler.reset();
        ServerSuite::TearDown();
    }
    PgTestPooler& pooler() { return *m_pooler; }
    QString target() const { return ConnectionString::forServer(m_pooler->conninfo()); }
    // The server's backends that serve clients of the database kq, the pooler's among them.
    static int backends()
    {
        return psql(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = 'kq' AND "
                                   "backend_type = 'client backend' AND pid <> pg_backend_pid()"))
            .toInt();
    }

    // A transaction pool of 5 serves the test's 20 clients; a session pool gives each
    // client a server connection of its own for its whole life, so it holds 20.
    static int poolSize() { return GetParam() == Mode::Transaction ? 5 : 20; }

private:
    std::unique_ptr<PgTestPooler> m_pooler;
};

std::string modeName(const ::testing::TestParamInfo<Mode>& info)
{
    return info.param == Mode::Transaction ? "TransactionPool" : "SessionPool";
}

// 200 swipes from 20 clients at once, 10 of them at one instant for one employee: every
// swipe recorded or "already recorded", one row for that employee, no error; in
// transaction mode the 20 clients share 5 server connections.
TEST_P(PoolerTest, ConcurrentSwipesFromManyClientsRecordOneRowPerEmployeeAndInstant)
{
    constexpr int kClients = 20;
    constexpr int kSwipesEach = 10;
    const int clients = kClients;
    const int swipesEach = kSwipesEach;
    std::barrier together(clients);
    std::mutex mutex;
    std::vector<SwipeOutcome> sameInstant;
    std::atomic<int> recorded{0};
    std::atomic<int> failures{0};
    std::vector<std::string> errors;
    std::vector<std::thread> threads;
    const QStringList nums{QStringLiteral("0101"), QStringLiteral("0102"), QStringLiteral("0103"),
                           QStringLiteral("0104"), QStringLiteral("0105")};
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            TestSupport::TerminalQueries terminal(target());
            terminal.connection.setNetworkTimeout(10000);
            try {
                terminal.load();
            } catch (const std::exception& e) {
                std::lock_guard lock(mutex);
                errors.push_back(std::string("load: ") + e.what());
                together.arrive_and_drop();
                return;
            }
            for (int s = 0; s < swipesEach; ++s) {
                // The first swipe of the first ten clients: 0101, all at 09:00:00 at once.
                const bool same = s == 0 && c < 10;
                const QString num = same ? QStringLiteral("0101") : nums.at((c + s) % nums.size());
                // Others far apart: every swipe ten minutes of its own.
                const QDateTime at = same
                                         ? clockAt("2026-03-05 09:00:00")
                                         : clockAt("2026-03-06 00:00:00").addSecs((c * swipesEach + s) * 600);
                if (s == 0)
                    together.arrive_and_wait();
                if (!terminal.employees.locate(Statements::kNum, num)) {
                    ++failures;
                    continue;
                }
                const SwipeOutcome outcome =
                    CardSwipe::run(&terminal.employees, terminal.records, ManualClock(at));
                std::lock_guard lock(mutex);
                if (outcome.failed())
                    errors.push_back(outcome.errorMessage.toStdString());
                else if (same)
                    sameInstant.push_back(outcome);
                else if (outcome.kind == Kind::Recorded)
                    ++recorded;
                else
                    errors.push_back("not recorded: " + outcome.statusText.toStdString());
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (const std::string& e : errors)
        ADD_FAILURE() << e;
    EXPECT_EQ(failures, 0);
    ASSERT_EQ(sameInstant.size(), 10u);
    int firsts = 0;
    for (const SwipeOutcome& o : sameInstant) {
        firsts += o.kind == Kind::Recorded;
        if (o.kind == Kind::AlreadyRecorded) {
            EXPECT_EQ(o.statusText, QStringLiteral("【0101 张伟】 2026-03-05 09:00 已刷卡"));
        }
    }
    EXPECT_EQ(firsts, 1);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0101' AND d = '2026-03-05'")),
              QStringLiteral("1"));
    EXPECT_EQ(recorded, clients * swipesEach - 10);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QString::number(clients * swipesEach - 9));
    // Never more server connections than the pool holds.
    EXPECT_LE(backends(), poolSize());
}

// kqdb swipe, one after another, then ten at one instant as processes: each recorded or
// "already recorded", and a plain client through the pool afterwards meets the server's
// own settings, not the terminal's.
TEST_P(PoolerTest, KqdbSwipesInARowAndABurstAndAPlainClientAfterwards)
{
    for (int i = 0; i < 10; ++i) {
        const QString at = clockAt("2026-03-05 10:00:00").addSecs(i * 600).toString(u"yyyy-MM-dd HH:mm:ss");
        const TestSupport::ToolRun run =
            TestSupport::runKqdb({QStringLiteral("swipe"), pooler().conninfo(), QStringLiteral("0102"),
                                  QStringLiteral("--now"), at});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("刷卡成功")) << run.out.toStdString();
    }
    std::vector<std::unique_ptr<QProcess>> burst;
    for (int i = 0; i < 10; ++i) {
        auto process = std::make_unique<QProcess>();
        process->start(QStringLiteral(TAVELO_BIN_DIR "/kqdb"),
                       {QStringLiteral("swipe"), pooler().conninfo(), QStringLiteral("0103"),
                        QStringLiteral("--now"), QStringLiteral("2026-03-05 11:00:00")});
        burst.push_back(std::move(process));
    }
    int recordedOnce = 0;
    for (auto& process : burst) {
        ASSERT_TRUE(process->waitForFinished(60000));
        const int code = process->exitCode();
        EXPECT_TRUE(code == 0 || code == 4) << code << " " << process->readAllStandardError().toStdString();
        recordedOnce += code == 0;
    }
    EXPECT_EQ(recordedOnce, 1);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0103'")), QStringLiteral("1"));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0102'")), QStringLiteral("10"));

    // Every server connection of the pool, as a plain client meets it: the server's default
    // lock_timeout and DateStyle, and no statement left prepared by the terminal.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(pooler().psql(QStringLiteral("SELECT current_setting('lock_timeout') || ' ' || "
                                               "current_setting('DateStyle') || ' ' || "
                                               "(SELECT count(*) FROM pg_prepared_statements)")),
                  QStringLiteral("0 ISO, MDY 0"));
    }
}

// A terminal started after other clients have used the pool: it loads the list through the
// pool and records a swipe; the pooler restarting under it costs it nothing but a new
// connection, without a failed swipe or a word on the red line.
TEST_P(PoolerTest, ATerminalStartedAfterOthersLoadsSwipesAndOutlivesAPoolerRestart)
{
    for (int i = 0; i < 3; ++i)
        pooler().psql(QStringLiteral("SELECT count(*) FROM employ"));
    {
        TestSupport::TerminalQueries other(target());
        other.load();
    }
    QTemporaryDir state;
    ASSERT_TRUE(state.isValid());
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    ManualClock clock(clockAt("2026-03-05 12:00:00"));
    AttendanceTerminal terminal(clock);
    terminal.open(DatabaseTarget::parse(pooler().conninfo()));
    terminal.loadEmployees();
    AdoQuery& employees = *terminal.employees();
    ASSERT_TRUE(employees.isOpen());
    EXPECT_EQ(employees.recordCount(), psql(QStringLiteral("SELECT count(*) FROM employ")).toInt());
    SwipeOutcome outcome = terminal.swipe(QStringLiteral("0104"));
    EXPECT_EQ(outcome.kind, Kind::Recorded) << outcome.errorMessage.toStdString();

    pooler().stop();
    pooler().start();
    clock.advanceSecs(600);
    outcome = terminal.swipe(QStringLiteral("0104"));
    EXPECT_EQ(outcome.kind, Kind::Recorded) << outcome.errorMessage.toStdString();
    EXPECT_EQ(AttendanceTerminal::swipeTrouble(outcome), QString());
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0104'")), QStringLiteral("2"));
    qunsetenv("XDG_STATE_HOME");
}

// Queued swipes go through the pool in batches, and the forwarder lets go of its
// connection once the outbox is empty.
TEST_P(PoolerTest, TheOutboxForwardsThroughThePool)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString storePath = dir.filePath(QStringLiteral("store.sqlite"));
    {
        LocalStore store(storePath);
        for (int i = 0; i < 600; ++i) {
            StoredSwipe swipe;
            swipe.num = QStringLiteral("0105");
            swipe.name = QStringLiteral("x");
            const QDateTime at = clockAt("2026-03-07 00:00:00").addSecs(i * 200);
            swipe.date = at.date();
            swipe.time = at.time();
            swipe.opdate = Statements::kFixedOpDate;
            store.enqueue(swipe);
        }
        // The same instant again, and one 100 s after it: the server holds one, not three.
        StoredSwipe again;
        again.num = QStringLiteral("0105");
        again.name = QStringLiteral("x");
        again.date = QDate(2026, 3, 7);
        again.time = QTime(0, 0);
        again.opdate = Statements::kFixedOpDate;
        store.enqueue(again);
        again.time = QTime(0, 1, 40);
        store.enqueue(again);
    }
    OutboxForwarder forwarder(target(), storePath);
    forwarder.connect();
    const OutboxForwarder::Result result = forwarder.forwardAll();
    EXPECT_EQ(result.forwarded, 600);
    EXPECT_EQ(result.alreadyRecorded, 2);
    EXPECT_EQ(result.refused, 0);
    EXPECT_EQ(forwarder.store().waitingCount(), 0);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0105'")), QStringLiteral("600"));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0105' AND d = '2026-03-07' AND "
                                  "t < '00:03:00'")),
              QStringLiteral("1"));
}

// Batches sent together in one exchange through the pool: a batch the server refuses stops
// the exchange there, so the batches before it are committed and those behind it are not
// (an employee's later swipes never arrive before the earlier ones), the caller is told
// which, and the server connection goes back to the pool with no transaction left open.
// Two clients sending the same swipes together record each once.
TEST_P(PoolerTest, BatchesSentTogetherStopAtARefusalAndLeaveThePoolClean)
{
    const auto swipe = [](const char* num, const QString& name, int minute) {
        StoredSwipe queued;
        queued.num = QString::fromLatin1(num);
        queued.name = name;
        queued.date = QDate(2026, 3, 8);
        queued.time = QTime(8, minute);
        queued.opdate = Statements::kFixedOpDate;
        return queued;
    };
    const QString x = QStringLiteral("x");
    // Longer than the name column holds: refused for good.
    const QString tooLong(21, QChar(u'名'));
    const std::vector<std::vector<StoredSwipe>> batches{{swipe("0101", x, 0), swipe("0102", x, 0)},
                                                        {swipe("0103", x, 0), swipe("0104", tooLong, 0)},
                                                        {swipe("0101", x, 10), swipe("0105", x, 0)}};
    AdoConnection connection;
    connection.setConnectionString(target());
    connection.open();
    ServerFeatures* server = connection.backend().serverFeatures();
    ASSERT_NE(server, nullptr);
    const ServerSwipeBatch::Forwarded forwarded = ServerSwipeBatch::forward(*server, batches);
    ASSERT_EQ(forwarded.committed.size(), 1u);
    ASSERT_EQ(forwarded.committed[0].size(), 2u);
    EXPECT_EQ(forwarded.committed[0][1].kind, Kind::Recorded);
    EXPECT_EQ(forwarded.committed[0][1].num, QStringLiteral("0102"));
    EXPECT_FALSE(forwarded.committed[0][1].server.isEmpty());
    ASSERT_TRUE(forwarded.failure);
    EXPECT_THROW(std::rethrow_exception(forwarded.failure), ServerRefusal);
    EXPECT_EQ(psql(QStringLiteral("SELECT string_agg(num || ' ' || t, ',' ORDER BY num, t) FROM sgdjb")),
              QStringLiteral("0101 08:00:00,0102 08:00:00"));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = 'kq' AND "
                                  "state LIKE 'idle in transaction%'")),
              QStringLiteral("0"));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(pooler().psql(QStringLiteral("SELECT current_setting('lock_timeout')")),
                  QStringLiteral("0"));

    // The rest, from two clients at once: each swipe once, the first batch found recorded.
    const std::vector<std::vector<StoredSwipe>> rest{
        batches[0], {batches[1][0]}, batches[2], {swipe("0104", x, 0), swipe("0101", x, 20)}};
    std::vector<ServerSwipeBatch::Forwarded> results(2);
    std::vector<std::thread> clients;
    std::barrier together(2);
    for (size_t c = 0; c < results.size(); ++c) {
        clients.emplace_back([&, c] {
            AdoConnection own;
            own.setConnectionString(target());
            own.setNetworkTimeout(10000);
            own.open();
            together.arrive_and_wait();
            results[c] = ServerSwipeBatch::forward(*own.backend().serverFeatures(), rest);
        });
    }
    for (std::thread& client : clients)
        client.join();
    int recorded = 0;
    for (const ServerSwipeBatch::Forwarded& result : results) {
        EXPECT_FALSE(result.failure);
        ASSERT_EQ(result.committed.size(), rest.size());
        for (const std::vector<SwipeOutcome>& outcomes : result.committed)
            for (const SwipeOutcome& outcome : outcomes)
                recorded += outcome.kind == Kind::Recorded ? 1 : 0;
    }
    EXPECT_EQ(recorded, 5);
    EXPECT_EQ(psql(QStringLiteral("SELECT string_agg(num || ' ' || t, ',' ORDER BY num, t) FROM sgdjb")),
              QStringLiteral("0101 08:00:00,0101 08:10:00,0101 08:20:00,0102 08:00:00,0103 08:00:00,"
                             "0104 08:00:00,0105 08:00:00"));
}

INSTANTIATE_TEST_SUITE_P(Modes, PoolerTest, ::testing::Values(Mode::Transaction, Mode::Session), modeName);

} // namespace
