// The duplicate window at its bounds, on every path that applies it: the file, the server,
// the server's batch of forwarded swipes, the outbox of the local store and the rows a
// terminal remembers. One table of cases for all of them, so that no path can read a
// bound differently from the others unnoticed.
#include "attendance/CardSwipe.h"
#include "attendance/LocalStore.h"
#include "attendance/OutboxSwipe.h"
#include "attendance/RecentSwipes.h"
#include "attendance/ServerIdentity.h"
#include "attendance/ServerSwipeBatch.h"
#include "attendance/StoredSwipe.h"
#include "attendance/SwipeWindow.h"
#include "interchange/DevSchema.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"
#include "query/Statements.h"
#include "support/ManualClock.h"
#include "support/QueuedSwipe.h"
#include "support/ServerSuite.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Kind = SwipeOutcome::Kind;

// A record of the same employee this many seconds from the swipe, and whether the swipe
// is then recorded.
struct WindowCase
{
    int offset;
    bool recorded;
};

// Exactly on a bound is outside; a second inside either bound is within.
const WindowCase kCases[] = {
    {-SwipeWindow::kSeconds - 1, true},  {-SwipeWindow::kSeconds, true},
    {-SwipeWindow::kSeconds + 1, false}, {0, false},
    {SwipeWindow::kSeconds - 1, false},  {SwipeWindow::kSeconds, true},
    {SwipeWindow::kSeconds + 1, true},
};

const QDateTime kSwipeAt(QDate(2026, 3, 2), QTime(8, 30, 15), Qt::UTC);

// Runs one path over every case: `swipeBeside` puts a record `offset` seconds from
// kSwipeAt, swipes at kSwipeAt and returns the outcome and the number of the employee's
// records the user can see afterwards (rows, or swipes waiting in the outbox).
void runCases(const std::function<std::pair<Kind, qint64>(int offset)>& swipeBeside)
{
    for (const WindowCase& c : kCases) {
        SCOPED_TRACE(testing::Message() << "record " << c.offset << " s from the swipe");
        const auto [kind, rows] = swipeBeside(c.offset);
        EXPECT_EQ(kind, c.recorded ? Kind::Recorded : Kind::AlreadyRecorded);
        EXPECT_EQ(rows, c.recorded ? 2 : 1);
    }
}

class SwipeWindowFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_clock.set(kSwipeAt);
    }

    TestSupport::DevDatabase m_db{2};
    QTemporaryDir m_dir;
    ManualClock m_clock;
};

TEST_F(SwipeWindowFileTest, FileSwipe)
{
    TestSupport::TerminalQueries terminal(m_db.connectionString());
    terminal.load();
    const QString num = terminal.employees.fieldAsString(Statements::kNum);
    runCases([&](int offset) {
        m_db.exec(QStringLiteral("DELETE FROM sgdjb"));
        const QDateTime at = kSwipeAt.addSecs(offset);
        m_db.exec(
            QStringLiteral("INSERT INTO sgdjb VALUES ('%1', 'x', %2, %3, 0)")
                .arg(num)
                .arg(TestSupport::wallSeconds(at.date().toString(Qt::ISODate) + QStringLiteral(" 00:00:00")))
                .arg(at.time().msecsSinceStartOfDay() / 1000));
        const SwipeOutcome outcome = CardSwipe::run(&terminal.employees, terminal.records, m_clock);
        return std::pair(outcome.kind,
                         m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '%1'").arg(num)));
    });
}

TEST_F(SwipeWindowFileTest, LocalStoreOutbox)
{
    TestSupport::TerminalQueries terminal(m_db.connectionString());
    terminal.load();
    const QString num = terminal.employees.fieldAsString(Statements::kNum);
    int round = 0;
    runCases([&](int offset) {
        LocalStore store(m_dir.filePath(QStringLiteral("store-%1.sqlite").arg(++round)));
        store.enqueue(TestSupport::queuedSwipe(num, QStringLiteral("x"), kSwipeAt.addSecs(offset)));
        const SwipeOutcome outcome = OutboxSwipe::run(&terminal.employees, store, m_clock, nullptr);
        return std::pair(outcome.kind, qint64(store.waitingCount()));
    });
}

TEST_F(SwipeWindowFileTest, RowsTheTerminalRemembers)
{
    TestSupport::TerminalQueries terminal(m_db.connectionString());
    terminal.load();
    const QString num = terminal.employees.fieldAsString(Statements::kNum);
    int round = 0;
    runCases([&](int offset) {
        LocalStore store(m_dir.filePath(QStringLiteral("store-%1.sqlite").arg(++round)));
        RecentSwipes recent;
        SwipeOutcome known;
        known.kind = Kind::Recorded;
        known.num = num;
        known.name = QStringLiteral("x");
        known.instant = kSwipeAt.addSecs(offset);
        recent.add(known);
        const SwipeOutcome outcome = OutboxSwipe::run(&terminal.employees, store, m_clock, &recent);
        // The remembered row is on the server: one more row there is the one queued here.
        return std::pair(outcome.kind, qint64(store.waitingCount()) + 1);
    });
}

class SwipeWindowServerTest : public ServerSuite
{
protected:
    // Puts a record of num `offset` seconds from the swipe on the server, alone.
    static void recordBeside(const QString& num, int offset)
    {
        const QDateTime at = kSwipeAt.addSecs(offset);
        psql(QStringLiteral(
                 "DELETE FROM sgdjb; INSERT INTO sgdjb VALUES ('%1', 'x', '%2', '%3', '1999-01-01')")
                 .arg(num, at.date().toString(Qt::ISODate), at.time().toString(Qt::ISODate)));
    }
    static qint64 rowsOf(const QString& num)
    {
        return psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '%1'").arg(num)).toLongLong();
    }
};

TEST_F(SwipeWindowServerTest, ServerSwipe)
{
    TestSupport::TerminalQueries terminal(ConnectionString::forServer(conninfo()));
    terminal.load();
    const QString num = terminal.employees.fieldAsString(Statements::kNum);
    ManualClock clock;
    clock.set(kSwipeAt);
    ServerFeatures* server = terminal.connection.backend().serverFeatures();
    ASSERT_NE(server, nullptr);
    const QString identity = ServerIdentity::read(*server);
    runCases([&](int offset) {
        recordBeside(num, offset);
        const SwipeOutcome outcome = CardSwipe::attempt(&terminal.employees, terminal.records, clock);
        // Read in the swipe's own statement, the same text the forwarder compares with later.
        EXPECT_EQ(outcome.server, identity);
        return std::pair(outcome.kind, rowsOf(num));
    });
}

TEST_F(SwipeWindowServerTest, ForwardedBatch)
{
    TestSupport::TerminalQueries terminal(ConnectionString::forServer(conninfo()));
    terminal.load();
    const QString num = terminal.employees.fieldAsString(Statements::kNum);
    ServerFeatures* server = terminal.connection.backend().serverFeatures();
    ASSERT_NE(server, nullptr);
    runCases([&](int offset) {
        recordBeside(num, offset);
        const std::vector<SwipeOutcome> outcomes = ServerSwipeBatch::forward(
            *server, {TestSupport::queuedSwipe(num, QStringLiteral("x"), kSwipeAt)});
        EXPECT_EQ(outcomes.size(), 1u);
        return std::pair(outcomes.empty() ? Kind::Nothing : outcomes[0].kind, rowsOf(num));
    });
}

// A site may take the control functions from PUBLIC. The terminals' role then swipes and
// forwards all the same, naming the server without its timeline; granted again, a new
// connection names it with the timeline.
TEST_F(SwipeWindowServerTest, ARoleWithoutTheControlFunctionsStillSwipes)
{
    const QString role = server().conninfo(QStringLiteral("kq"), DevSchema::kTerminalRole);
    psql(QStringLiteral("REVOKE EXECUTE ON FUNCTION pg_catalog.pg_control_checkpoint() FROM PUBLIC"));
    ManualClock clock;
    clock.set(kSwipeAt);
    {
        TestSupport::TerminalQueries terminal(ConnectionString::forServer(role));
        terminal.load();
        const QString num = terminal.employees.fieldAsString(Statements::kNum);
        psql(QStringLiteral("DELETE FROM sgdjb"));
        const SwipeOutcome swiped = CardSwipe::attempt(&terminal.employees, terminal.records, clock);
        EXPECT_EQ(swiped.kind, Kind::Recorded) << swiped.statusText.toStdString();
        EXPECT_FALSE(swiped.server.isEmpty());
        EXPECT_FALSE(swiped.server.contains(u"timeline")) << swiped.server.toStdString();
        ServerFeatures* server = terminal.connection.backend().serverFeatures();
        ASSERT_NE(server, nullptr);
        const std::vector<SwipeOutcome> forwarded = ServerSwipeBatch::forward(
            *server, {TestSupport::queuedSwipe(num, QStringLiteral("x"), kSwipeAt.addSecs(600))});
        ASSERT_EQ(forwarded.size(), 1u);
        EXPECT_EQ(forwarded[0].kind, Kind::Recorded);
        EXPECT_EQ(forwarded[0].server, swiped.server);
        EXPECT_EQ(rowsOf(num), 2);
    }
    psql(QStringLiteral("GRANT EXECUTE ON FUNCTION pg_catalog.pg_control_checkpoint() TO PUBLIC"));
    TestSupport::TerminalQueries terminal(ConnectionString::forServer(role));
    terminal.load();
    clock.set(kSwipeAt.addSecs(1200));
    const SwipeOutcome swiped = CardSwipe::attempt(&terminal.employees, terminal.records, clock);
    EXPECT_EQ(swiped.kind, Kind::Recorded) << swiped.statusText.toStdString();
    EXPECT_TRUE(swiped.server.contains(u"timeline")) << swiped.server.toStdString();
}

} // namespace
