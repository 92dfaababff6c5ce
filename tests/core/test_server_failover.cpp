// A site with a primary and a streaming standby (pg_basebackup -R), the terminal given
// both hosts and no target_session_attrs. The primary is reached through a loopback relay
// that goes silent (a hung machine, a dead switch port) or refuses (a stopped server);
// the primary stops, the standby is promoted: every swipe reaches the new primary once,
// with its own instant, within 30 s.

#include "attendance/AttendanceLink.h"
#include "attendance/CardSwipe.h"
#include "query/ConnectionString.h"
#include "interchange/DevSchema.h"
#include "query/Statements.h"
#include "log/ErrMsgForm.h"
#include "support/ManualClock.h"
#include "support/LoopbackRelay.h"
#include "support/PgTestServer.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using Kind = SwipeOutcome::Kind;
using TestSupport::clockAt;
using TestSupport::waitUntil;


enum class PrimaryFault
{
    Silent,
    Refusing
};

void failOver(PrimaryFault fault)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString savedLog = ErrMsgForm::instance().logFileName();
    ErrMsgForm::instance().setLogFileName(dir.filePath(QStringLiteral("error.log")));

    PgTestServer primary;
    QString error;
    ASSERT_TRUE(DevSchema::createServerDatabase(primary.conninfo(), DevSchema::demoEmployees(), &error))
        << error.toStdString();
    const std::unique_ptr<PgTestServer> standby = PgTestServer::standbyOf(primary);
    LoopbackRelay relay(primary.socketDir() + QStringLiteral("/.s.PGSQL.%1").arg(primary.port()));
    // Both hosts, and nothing said about which one takes writes.
    const QString target = QStringLiteral("host=127.0.0.1,%1 port=%2,%3 dbname=kq user=postgres")
                               .arg(standby->socketDir())
                               .arg(relay.port())
                               .arg(standby->port());

    // The real pauses between the forwarder's tries.
    TestSupport::TerminalQueries terminal(ConnectionString::forServer(target));
    AttendanceLink link(terminal.connection, dir.filePath(QStringLiteral("store.sqlite")),
                        AttendanceLink::Options());
    ManualClock clock;
    const auto swipe = [&](const char* num, const char* when) {
        if (!terminal.employees.locate(Statements::kNum, QString::fromLatin1(num)))
            ADD_FAILURE() << "no employee " << num;
        clock.set(clockAt(when));
        return link.swipe(&terminal.employees, terminal.records, clock);
    };
    const auto rowsOn = [](const PgTestServer& server) {
        return server.psql(QStringLiteral(
            "SELECT string_agg(num || '|' || (d + t)::text, ' ' ORDER BY d + t, num) FROM sgdjb"));
    };

    ASSERT_EQ(link.loadEmployees(&terminal.employees), DevSchema::demoEmployees().size());
    EXPECT_EQ(swipe("0101", "2026-03-02 08:00:00").kind, Kind::Recorded);
    EXPECT_EQ(rowsOn(primary), QStringLiteral("0101|2026-03-02 08:00:00"));
    EXPECT_FALSE(link.isOffline());
    ASSERT_TRUE(waitUntil([&] { return rowsOn(*standby) == rowsOn(primary); }, 20000))
        << "the standby did not follow";

    if (fault == PrimaryFault::Silent)
        relay.setSilent(true);
    else
        relay.refuse();
    primary.stop();
    EXPECT_EQ(swipe("0102", "2026-03-02 08:30:00").kind, Kind::Recorded);
    EXPECT_TRUE(link.isOffline());

    standby->promote();
    QElapsedTimer sinceFailover;
    sinceFailover.start();
    EXPECT_EQ(swipe("0103", "2026-03-02 08:31:00").kind, Kind::Recorded);
    ASSERT_TRUE(waitUntil([&] { return !link.isOffline() && link.waitingCount() == 0; }, 30000))
        << "still offline after 30 s, waiting " << link.waitingCount();
    EXPECT_LT(sinceFailover.elapsed(), 30000);
    EXPECT_EQ(rowsOn(*standby),
              QStringLiteral("0101|2026-03-02 08:00:00 0102|2026-03-02 08:30:00 0103|2026-03-02 08:31:00"));

    // The terminal carries on with the promoted server.
    EXPECT_EQ(swipe("0104", "2026-03-02 08:40:00").kind, Kind::Recorded);
    EXPECT_EQ(standby->psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0104'")),
              QStringLiteral("1"));
    EXPECT_EQ(link.waitingCount(), 0);
    ErrMsgForm::instance().setLogFileName(savedLog);
}

TEST(ServerFailover, ASilentPrimaryGivesWayToThePromotedStandby)
{
    failOver(PrimaryFault::Silent);
}

TEST(ServerFailover, ARefusingPrimaryGivesWayToThePromotedStandby)
{
    failOver(PrimaryFault::Refusing);
}

TEST(ServerFailover, EachHostIsTriedForItsOwnBoundedTimeAndAStandbyIsSkipped)
{
    PgTestServer primary;
    QString error;
    ASSERT_TRUE(DevSchema::createServerDatabase(primary.conninfo(), DevSchema::demoEmployees(), &error))
        << error.toStdString();
    const std::unique_ptr<PgTestServer> standby = PgTestServer::standbyOf(primary);
    LoopbackRelay silent(primary.socketDir() + QStringLiteral("/.s.PGSQL.%1").arg(primary.port()));
    silent.setSilent(true);

    // A silent first host costs its connect_timeout, then the second answers.
    const auto connectTo = [](const QString& conninfo, int boundMs) {
        TestSupport::TerminalQueries terminal(ConnectionString::forServer(conninfo));
        terminal.connection.setNetworkTimeout(boundMs);
        terminal.load();
        return terminal.employees.recordCount();
    };
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(
        connectTo(QStringLiteral("host=127.0.0.1,%1 port=%2,%3 dbname=kq user=postgres connect_timeout=3")
                      .arg(primary.socketDir())
                      .arg(silent.port())
                      .arg(primary.port()),
                  30000),
        DevSchema::demoEmployees().size());
    EXPECT_GE(timer.elapsed(), 2900);
    EXPECT_LT(timer.elapsed(), 8000);

    // Without connect_timeout: 2 s a host.
    timer.restart();
    EXPECT_EQ(connectTo(QStringLiteral("host=127.0.0.1,%1 port=%2,%3 dbname=kq user=postgres")
                            .arg(primary.socketDir())
                            .arg(silent.port())
                            .arg(primary.port()),
                        30000),
              DevSchema::demoEmployees().size());
    EXPECT_GE(timer.elapsed(), 1900);
    EXPECT_LT(timer.elapsed(), 6000);

    // The standby first in the list: skipped for the primary, which takes writes.
    TestSupport::TerminalQueries terminal(
        ConnectionString::forServer(QStringLiteral("host=%1,%2 port=%3,%4 dbname=kq user=postgres")
                                        .arg(standby->socketDir(), primary.socketDir())
                                        .arg(standby->port())
                                        .arg(primary.port())));
    terminal.load();
    ManualClock clock(clockAt("2026-03-02 09:00:00"));
    ASSERT_TRUE(terminal.employees.locate(Statements::kNum, QStringLiteral("0101")));
    EXPECT_EQ(CardSwipe::run(&terminal.employees, terminal.records, clock).kind, Kind::Recorded);
    EXPECT_EQ(primary.psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("1"));

    // Asked for explicitly, a standby is taken.
    TestSupport::TerminalQueries reader(ConnectionString::forServer(
        QStringLiteral("host=%1,%2 port=%3,%4 dbname=kq user=postgres target_session_attrs=any")
            .arg(standby->socketDir(), primary.socketDir())
            .arg(standby->port())
            .arg(primary.port())));
    reader.load(QStringLiteral("SELECT CAST(pg_catalog.pg_is_in_recovery() AS text) AS standby"));
    EXPECT_EQ(reader.employees.fieldAsString(QStringLiteral("standby")), QStringLiteral("true"));
}

} // namespace
