// A confirmed swipe is kept across an asynchronous failover. A primary and a standby that
// streams through a loopback relay; the relay holds the stream back, so what the primary
// confirms never reaches the standby. The primary is killed outright and the standby
// promoted: the terminal (and kqdb forward, for kqdb swipe's swipes) finds the server
// changed and sends again every confirmed swipe the new one lacks, each once, at its own
// instant. A merely restarted server lacks nothing and gets nothing again; a row deleted on
// purpose on an unchanged server stays deleted.

#include "attendance/AttendanceLink.h"
#include "attendance/LocalStore.h"
#include "attendance/ServerIdentity.h"
#include "attendance/TroubleText.h"
#include "interchange/DevSchema.h"
#include "log/ErrMsgForm.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/Statements.h"
#include "support/LinkedTerminal.h"
#include "support/LoopbackRelay.h"
#include "support/ManualClock.h"
#include "support/PgTestServer.h"
#include "support/TestSupport.h"
#include "support/ToolRun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using Kind = SwipeOutcome::Kind;
using TestSupport::clockAt;
using TestSupport::waitWithEvents;

// num|d + t of every record, by instant: a swipe twice shows twice.
QString rowsOn(const PgTestServer& server)
{
    return server.psql(QStringLiteral(
        "SELECT coalesce(string_agg(num || '|' || (d + t)::text, ' ' ORDER BY d + t, num), '') "
        "FROM sgdjb"));
}

QString identityOf(const PgTestServer& server)
{
    return server.psql(QString::fromUtf8(ServerIdentity::statement().sql));
}

// A folder of its own for the error log and the user's state (the local stores kqdb and the
// terminal share), set for this process and the kqdb it starts.
class Site
{
public:
    Site()
    {
        TestSupport::coreApplication();
        m_savedLog = ErrMsgForm::instance().logFileName();
        ErrMsgForm::instance().setLogFileName(m_dir.filePath(QStringLiteral("error.log")));
        m_savedState = qgetenv("XDG_STATE_HOME");
        m_savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("state"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    }
    ~Site()
    {
        ErrMsgForm::instance().setLogFileName(m_savedLog);
        qputenv("XDG_STATE_HOME", m_savedState);
        qputenv("XDG_CONFIG_HOME", m_savedConfig);
    }

    QList<QByteArray> logLines(const char* containing) const
    {
        QFile file(m_dir.filePath(QStringLiteral("error.log")));
        QList<QByteArray> lines;
        if (!file.open(QIODevice::ReadOnly))
            return lines;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.contains(containing))
                lines.append(line);
        return lines;
    }

private:
    QTemporaryDir m_dir;
    QString m_savedLog;
    QByteArray m_savedState;
    QByteArray m_savedConfig;
};

// The terminal's code on a server: its connection, list and link, with a hand-set clock.
// Looks for a changed server twice a second, by the test's clock.
struct Terminal : TestSupport::LinkedTerminal
{
    explicit Terminal(const QString& target) : LinkedTerminal(target, {}, options(), LinkClock::Manual) {}

    static AttendanceLink::Options options()
    {
        AttendanceLink::Options options;
        options.firstRetryMs = 200;
        options.longestRetryMs = 1000;
        options.serverCheckMs = 500;
        options.storeWatchMs = 200;
        return options;
    }
};

QString text(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A primary and its standby, streaming through a relay that can hold the stream back.
struct Pair
{
    Pair()
    {
        QString error;
        if (!DevSchema::createServerDatabase(primary.conninfo(), DevSchema::demoEmployees(), &error))
            throw std::runtime_error(error.toStdString());
        standby = PgTestServer::standbyOf(
            primary, QStringLiteral("host=127.0.0.1 port=%1 user=postgres").arg(relay.port()));
    }

    // Both hosts, the primary first; nothing said about which one takes writes.
    QString target() const
    {
        return QStringLiteral("host=%1,%2 port=%3,%4 dbname=kq user=postgres")
            .arg(primary.socketDir(), standby->socketDir())
            .arg(primary.port())
            .arg(standby->port());
    }

    bool caughtUp() const
    {
        return TestSupport::waitUntil([&] { return rowsOn(*standby) == rowsOn(primary); }, 20000);
    }

    PgTestServer primary;
    LoopbackRelay relay{primary.socketDir() + QStringLiteral("/.s.PGSQL.%1").arg(primary.port())};
    std::unique_ptr<PgTestServer> standby;
};

QStringList demoNumbers(int count)
{
    QStringList numbers;
    for (const DevSchema::Employee& employee : DevSchema::demoEmployees())
        if (numbers.size() < count)
            numbers.append(employee.num);
    return numbers;
}

TEST(ConfirmedFailover, EveryConfirmedSwipeReachesThePromotedStandbyOnce)
{
    Site site;
    Pair pair;
    const QStringList numbers = demoNumbers(10);
    ASSERT_EQ(numbers.size(), 10);
    Terminal terminal(pair.target());
    ASSERT_EQ(terminal.link->loadEmployees(&terminal.employees), DevSchema::demoEmployees().size());
    ASSERT_TRUE(pair.caughtUp());

    // The stream is held back: the standby sees none of what follows.
    pair.relay.setSilent(true);
    QStringList expected;
    const QDateTime first = clockAt("2026-03-02 08:00:00");
    for (int i = 0; i < 20; ++i) {
        // Two rounds of ten employees, four minutes apart (all within the retention time).
        const QDateTime at = first.addSecs(i / 10 * 240 + i % 10 * 7);
        ASSERT_EQ(terminal.swipe(numbers[i % 10], at).kind, Kind::Recorded) << i;
        expected.append(numbers[i % 10] + u'|' + text(at));
    }
    for (int i = 0; i < 10; ++i) {
        const QDateTime at = first.addSecs(480 + i * 5);
        const TestSupport::ToolRun run = TestSupport::runKqdb(
            {QStringLiteral("swipe"), pair.target(), numbers[i], QStringLiteral("--now"), text(at)});
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
        expected.append(numbers[i] + u'|' + text(at));
    }
    std::sort(expected.begin(), expected.end(), [](const QString& a, const QString& b) {
        return a.section(u'|', 1) + a.section(u'|', 0, 0) < b.section(u'|', 1) + b.section(u'|', 0, 0);
    });
    ASSERT_EQ(rowsOn(pair.primary), expected.join(u' '));
    ASSERT_EQ(rowsOn(*pair.standby), QString())
        << pair.standby->psql(QStringLiteral("SELECT conninfo FROM pg_stat_wal_receiver")).toStdString();

    // The primary dies with its unsent log; the relay's buffer goes with it.
    pair.primary.kill();
    pair.relay.dropConnections();
    pair.relay.refuse();
    pair.standby->promote();
    QElapsedTimer sincePromotion;
    sincePromotion.start();
    ASSERT_TRUE(waitWithEvents([&] { return rowsOn(*pair.standby) == expected.join(u' '); }, 60000))
        << rowsOn(*pair.standby).toStdString();
    EXPECT_LT(sincePromotion.elapsed(), 60000);

    // One line per swipe sent again, naming it, and a summary on the red line.
    ASSERT_TRUE(waitWithEvents([&] { return site.logLines("it was sent again").size() == 30; }, 10000))
        << site.logLines("it was sent again").size();
    for (const QString& row : expected) {
        const QByteArray num = row.section(u'|', 0, 0).toUtf8();
        const QByteArray at = row.section(u'|', 1).toUtf8();
        int naming = 0;
        for (const QByteArray& line : site.logLines("it was sent again"))
            naming += line.contains(" " + num + " ") && line.contains(at) ? 1 : 0;
        EXPECT_EQ(naming, 1) << row.toStdString();
    }
    // The summary comes once the check is over, a moment after the last line.
    EXPECT_TRUE(
        waitWithEvents([&] { return terminal.link->notice() == TroubleText::resentSwipes(30); }, 10000))
        << terminal.link->notice().toStdString();

    // The terminal goes on with the new primary; nothing is sent a second time.
    const QDateTime later = first.addSecs(3600);
    EXPECT_EQ(terminal.swipe(numbers[0], later).kind, Kind::Recorded);
    QThread::msleep(1500);
    QCoreApplication::processEvents();
    EXPECT_EQ(pair.standby->psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("31"));
    EXPECT_EQ(site.logLines("it was sent again").size(), 30);
}

TEST(ConfirmedFailover, KqdbForwardSendsAgainWhatKqdbSwipeHadConfirmed)
{
    Site site;
    Pair pair;
    ASSERT_TRUE(pair.caughtUp());
    pair.relay.setSilent(true);
    const QStringList numbers = demoNumbers(3);
    QStringList expected;
    for (int i = 0; i < 3; ++i) {
        const QString at = QStringLiteral("2026-03-02 08:0%1:00").arg(i);
        const TestSupport::ToolRun run = TestSupport::runKqdb(
            {QStringLiteral("swipe"), pair.target(), numbers[i], QStringLiteral("--now"), at});
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
        expected.append(numbers[i] + u'|' + at);
    }
    pair.primary.kill();
    pair.relay.refuse();
    pair.standby->promote();
    ASSERT_EQ(rowsOn(*pair.standby), QString());

    TestSupport::ToolRun run = TestSupport::runKqdb({QStringLiteral("forward"), pair.target()});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    const QString out = QString::fromUtf8(run.out);
    EXPECT_EQ(out.count(QStringLiteral("sent again: ")), 3) << out.toStdString();
    for (const QString& row : expected)
        EXPECT_TRUE(out.contains(row.section(u'|', 1))) << out.toStdString();
    EXPECT_EQ(rowsOn(*pair.standby), expected.join(u' '));

    // Once checked on this server, never again: a second run sends nothing.
    run = TestSupport::runKqdb({QStringLiteral("forward"), pair.target()});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_FALSE(run.out.contains("sent again")) << run.out.constData();
    EXPECT_EQ(rowsOn(*pair.standby), expected.join(u' '));
}

TEST(ConfirmedFailover, ARestartedServerLacksNothingAndADeletedRowStaysDeleted)
{
    Site site;
    PgTestServer server;
    QString error;
    ASSERT_TRUE(DevSchema::createServerDatabase(server.conninfo(), DevSchema::demoEmployees(), &error))
        << error.toStdString();
    Terminal terminal(server.conninfo());
    ASSERT_EQ(terminal.link->loadEmployees(&terminal.employees), DevSchema::demoEmployees().size());
    const QStringList numbers = demoNumbers(4);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(terminal.swipe(numbers[i], clockAt("2026-03-02 08:00:00").addSecs(i)).kind, Kind::Recorded);
    const QString before = rowsOn(server);

    // A restart: another server to the terminal, holding every row. The check runs and
    // sends nothing.
    const QString firstIdentity = identityOf(server);
    server.stop();
    server.start();
    const QString secondIdentity = identityOf(server);
    ASSERT_NE(firstIdentity, secondIdentity);
    const QString storePath = LocalStore::pathFor(terminal.connection.connectionString());
    const auto checkedOn = [&](const QString& identity) {
        LocalStore store(storePath, LocalStore::Access::ReadOnly);
        for (const LocalStore::RetainedSwipe& kept : store.retained())
            if (kept.server != identity)
                return false;
        return store.retainedCount() == 4;
    };
    ASSERT_TRUE(waitWithEvents([&] { return checkedOn(secondIdentity); }, 20000));
    EXPECT_EQ(rowsOn(server), before);
    EXPECT_TRUE(site.logLines("sent again").isEmpty());
    EXPECT_EQ(terminal.link->notice(), QString());

    // The management software deletes a row on purpose: the server is the same one, so the
    // terminal and kqdb forward leave it deleted.
    server.psql(QStringLiteral("DELETE FROM sgdjb WHERE num = '%1'").arg(numbers[1]));
    QThread::msleep(2000);
    QCoreApplication::processEvents();
    const TestSupport::ToolRun run = TestSupport::runKqdb({QStringLiteral("forward"), server.conninfo()});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_FALSE(run.out.contains("sent again")) << run.out.constData();
    EXPECT_EQ(server.psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '%1'").arg(numbers[1])),
              QStringLiteral("0"));
    EXPECT_EQ(server.psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("3"));
    EXPECT_TRUE(site.logLines("sent again").isEmpty());
}

} // namespace

// kqdb swipe opens this user's store to keep what the server confirmed; opening checks the
// store against the record beside it and mends it from the record. What was mended is said
// on standard error, and the swipe is kept in the mended store beside the earlier one.
TEST(ConfirmedFailover, KqdbSwipeSaysTheStoreItFoundGoneOrDamaged)
{
    Site site;
    PgTestServer server;
    QString error;
    ASSERT_TRUE(DevSchema::createServerDatabase(server.conninfo(), DevSchema::demoEmployees(), &error))
        << error.toStdString();
    const QStringList numbers = demoNumbers(3);
    const QString storePath = LocalStore::pathFor(ConnectionString::forServer(server.conninfo()));
    const auto swipe = [&](int i) {
        return TestSupport::runKqdb({QStringLiteral("swipe"), server.conninfo(), numbers[i],
                                     QStringLiteral("--now"), QStringLiteral("2026-03-02 08:0%1:00").arg(i)});
    };
    const auto kept = [&] { return LocalStore(storePath, LocalStore::Access::ReadOnly).retainedCount(); };

    TestSupport::ToolRun run = swipe(0);
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.err, QByteArray());
    ASSERT_EQ(kept(), 1);

    // A clean-up deleted the store; the record beside it remains.
    ASSERT_TRUE(QFile::remove(storePath));
    run = swipe(1);
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(
        run.err.contains("was gone; made again from the record beside it (0 waiting swipes queued again, "
                         "1 confirmed ones kept)"))
        << run.err.constData();
    EXPECT_EQ(kept(), 2);

    // Overwritten with what is no database.
    TestSupport::writeFile(storePath, QByteArray(8192, '\x5a'));
    run = swipe(2);
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(run.err.contains("was damaged or lost swipes; moved to " + QFile::encodeName(storePath) +
                                 ".damaged and made again from the record beside it (0 waiting swipes queued "
                                 "again, 2 confirmed ones kept)"))
        << run.err.constData();
    EXPECT_EQ(kept(), 3);
    EXPECT_EQ(server.psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("3"));
}
