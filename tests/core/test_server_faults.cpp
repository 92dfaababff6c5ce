// A terminal on a server that is there but not as it should be: a table lock held for a
// minute, a server in another time zone, a table without the duplicate test's index.
// Against a real throwaway PostgreSQL server.

#include "attendance/AttendanceLink.h"
#include "query/ConnectionString.h"
#include "attendance/ServerChecks.h"
#include "interchange/DevSchema.h"
#include "query/Statements.h"
#include "support/ManualClock.h"
#include "support/ServerSuite.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using Kind = SwipeOutcome::Kind;
using TestSupport::clockAt;
using TestSupport::waitUntil;



class ServerFaultsTest : public ServerSuite
{
};

TEST_F(ServerFaultsTest, ATableLockHeldForAMinuteLeavesOneBackendPerConnection)
{
    constexpr int kLockSeconds = 60;
    TestSupport::TerminalQueries terminal(ConnectionString::forServer(conninfo()));
    AttendanceLink::Options options;
    options.firstRetryMs = 200;
    options.longestRetryMs = 1000;
    AttendanceLink link(terminal.connection, tempPath("store.sqlite"), options);
    ASSERT_GT(link.loadEmployees(&terminal.employees), 0);
    const auto backends = [] {
        return psql(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'tavelo'"))
            .toInt();
    };

    // A long report or a CREATE INDEX: another session holds the table.
    QProcess holder;
    holder.start(
        QStringLiteral("psql"),
        {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"), conninfo(), QStringLiteral("-c"),
         QStringLiteral("BEGIN; LOCK TABLE sgdjb IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(%1); COMMIT")
             .arg(kLockSeconds)});
    ASSERT_TRUE(holder.waitForStarted(10000));
    ASSERT_TRUE(waitUntil(
        [] {
            return psql(QStringLiteral("SELECT count(*) FROM pg_locks WHERE relation = 'sgdjb'::regclass AND "
                                       "mode = 'AccessExclusiveLock' AND granted"))
                       .toInt() == 1;
        },
        10000));

    QElapsedTimer held;
    held.start();
    int most = 0;
    int swipes = 0;
    ManualClock clock;
    const QStringList numbers = {QStringLiteral("0101"), QStringLiteral("0102"), QStringLiteral("0103"),
                                 QStringLiteral("0104"), QStringLiteral("0105")};
    while (held.elapsed() < (kLockSeconds - 5) * 1000) {
        if (swipes < 20) {
            const QString num = numbers.at(swipes % numbers.size());
            ASSERT_TRUE(terminal.employees.locate(Statements::kNum, num));
            clock.set(clockAt("2026-03-02 08:00:00").addSecs(qint64(swipes) * 240));
            QElapsedTimer swipeTime;
            swipeTime.start();
            EXPECT_EQ(link.swipe(&terminal.employees, terminal.records, clock).kind, Kind::Recorded);
            EXPECT_LT(swipeTime.elapsed(), 2000);
            ++swipes;
        }
        most = std::max(most, backends());
        QThread::msleep(1000);
    }
    // The window's connection and the forwarder's, never more.
    EXPECT_LE(most, 2);
    EXPECT_GE(most, 1);
    EXPECT_TRUE(link.waitingCount() > 0) << "the lock held nothing up";

    ASSERT_TRUE(holder.waitForFinished(30000));
    ASSERT_TRUE(waitUntil([&] { return !link.isOffline() && link.waitingCount() == 0; }, 30000));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")).toInt(), swipes);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(DISTINCT d + t) FROM sgdjb")).toInt(), swipes);
}

TEST_F(ServerFaultsTest, TheClockCheckComparesInstantsNotWallClocks)
{
    // A head office in New York, a terminal in Shanghai: 13 hours apart on the wall, the
    // same instant.
    TestSupport::TerminalQueries terminal(
        ConnectionString::forServer(conninfo() + QStringLiteral(" options='-c TimeZone=America/New_York'")));
    terminal.load();
    const QTimeZone shanghai("Asia/Shanghai");
    ASSERT_TRUE(shanghai.isValid());
    const QDateTime there = QDateTime::currentDateTimeUtc().toTimeZone(shanghai);
    ManualClock clock(QDateTime(there.date(), there.time(), Qt::UTC));
    clock.setTimeZone(shanghai);
    EXPECT_TRUE(ServerChecks::CheckServerClock(&terminal.connection, clock));
    EXPECT_TRUE(logLines().isEmpty()) << logLines().join('\n').constData();

    // A real drift of 90 s: one line naming both times, each in its own zone.
    clock.advanceSecs(90);
    EXPECT_FALSE(ServerChecks::CheckServerClock(&terminal.connection, clock));
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains("Asia/Shanghai (UTC+08:00)")) << lines[0].constData();
    EXPECT_TRUE(lines[0].contains("America/New_York (UTC-0")) << lines[0].constData();
    EXPECT_TRUE(lines[0].contains(QDateTime(clock.now().date(), clock.now().time(), Qt::UTC)
                                      .toString(QStringLiteral("yyyy-MM-dd hh:mm"))
                                      .toUtf8()))
        << lines[0].constData();
    EXPECT_TRUE(lines[0].contains(" seconds apart")) << lines[0].constData();
    EXPECT_TRUE(lines[0].contains("<< SELECT now() >>")) << lines[0].constData();
}

TEST_F(ServerFaultsTest, ATableWithoutTheDuplicateTestsIndexIsLoggedWithTheStatementToRun)
{
    // kqdb create makes the index.
    TestSupport::TerminalQueries indexed(ConnectionString::forServer(conninfo()));
    indexed.load();
    EXPECT_TRUE(ServerChecks::CheckServerIndex(&indexed.connection));
    EXPECT_TRUE(logLines().isEmpty());

    // The management software's own tables, without it; an index on another column does
    // not count.
    server().createDatabase(QStringLiteral("noindex"));
    server().psql(
        QStringLiteral(
            "CREATE TABLE employ (num varchar(10) NOT NULL, name varchar(20), dept_no varchar(10));"
            "CREATE TABLE sgdjb (num varchar(10), name varchar(20), d date, t time(0), opdate date);"
            "CREATE INDEX sgdjb_by_day ON sgdjb (d);"
            "INSERT INTO employ VALUES ('0101', 'A', '01');"),
        QStringLiteral("noindex"));
    TestSupport::TerminalQueries bare(
        ConnectionString::forServer(server().conninfo(QStringLiteral("noindex"))));
    bare.load();
    EXPECT_EQ(bare.employees.recordCount(), 1) << "the terminal still starts";
    EXPECT_FALSE(ServerChecks::CheckServerIndex(&bare.connection));
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains("CREATE INDEX sgdjb_num_instant ON sgdjb (num, (d + t))"))
        << lines[0].constData();

    server().psql(DevSchema::duplicateIndexStatement(), QStringLiteral("noindex"));
    EXPECT_TRUE(ServerChecks::CheckServerIndex(&bare.connection));
    EXPECT_EQ(logLines().size(), 1);
}

} // namespace
