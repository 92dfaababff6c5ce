// A swipe the server refuses for good (a check constraint the management software added)
// is set aside with the server's reason instead of holding up every swipe behind it, and
// is sent again by kqdb forward --retry-refused once the cause is mended. Against a real
// throwaway PostgreSQL server.

#include "attendance/AttendanceLink.h"
#include "attendance/LocalStore.h"
#include "interchange/DevSchema.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/Statements.h"
#include "support/LinkedTerminal.h"
#include "support/ManualClock.h"
#include "support/ServerSuite.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using Kind = SwipeOutcome::Kind;
using TestSupport::clockAt;
using TestSupport::waitWithEvents;

using Terminal = TestSupport::LinkedTerminal;

class RefusedSwipeTest : public ServerSuite
{
protected:
    void SetUp() override
    {
        ServerSuite::SetUp();
        server().createDatabase(QStringLiteral("refusing"));
        m_target = server().conninfo(QStringLiteral("refusing"));
        QString error;
        ASSERT_TRUE(DevSchema::createServerDatabase(m_target, DevSchema::demoEmployees(), &error))
            << error.toStdString();
    }
    void TearDown() override
    {
        server().psql(QStringLiteral("DROP DATABASE refusing WITH (FORCE)"), QStringLiteral("postgres"));
        ServerSuite::TearDown();
    }

    QString sql(const QString& text) const { return server().psql(text, QStringLiteral("refusing")); }
    // num|d + t of every record, by instant.
    QString rows() const
    {
        return sql(QStringLiteral("SELECT string_agg(num || '|' || (d + t)::text, ' ' ORDER BY d + t, num) "
                                  "FROM sgdjb"));
    }

    QString m_target;
};

TEST_F(RefusedSwipeTest, ARefusedSwipeIsSetAsideTheOthersGoOnAndItIsSentAgainOnceMended)
{
    int argc = 1;
    char name[] = "test_refused_swipes";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    // The management software no longer takes swipes of 0102.
    sql(QStringLiteral("ALTER TABLE sgdjb ADD CONSTRAINT sgdjb_not_0102 CHECK (num <> '0102')"));
    const QString storePath = tempPath("store.sqlite");
    Terminal terminal(m_target, storePath);
    int refusedSignals = 0;
    int lastRefused = -1;
    QObject::connect(terminal.link.get(), &AttendanceLink::refusedChanged, &app, [&](int refused) {
        ++refusedSignals;
        lastRefused = refused;
    });
    ASSERT_EQ(terminal.link->loadEmployees(&terminal.employees), DevSchema::demoEmployees().size());

    // Online: refused at once, kept aside, not shown as recorded.
    const SwipeOutcome live = terminal.swipe(QStringLiteral("0102"), "2026-03-02 08:00:00");
    EXPECT_EQ(live.kind, Kind::Nothing);
    EXPECT_EQ(terminal.link->refusedCount(), 1);
    EXPECT_FALSE(terminal.link->isOffline());

    // Queued while the server is away: the refused one is in the middle of the queue.
    server().stop();
    EXPECT_EQ(terminal.swipe(QStringLiteral("0101"), "2026-03-02 08:30:00").kind, Kind::Recorded);
    EXPECT_EQ(terminal.swipe(QStringLiteral("0102"), "2026-03-02 08:30:10").kind, Kind::Recorded);
    EXPECT_EQ(terminal.swipe(QStringLiteral("0103"), "2026-03-02 08:30:20").kind, Kind::Recorded);
    EXPECT_EQ(terminal.link->waitingCount(), 3);
    server().start();

    ASSERT_TRUE(waitWithEvents(
        [&] {
            return terminal.link->waitingCount() == 0 && !terminal.link->isOffline() &&
                   terminal.link->refusedCount() == 2 && logLines().size() == 2;
        },
        30000))
        << "waiting " << terminal.link->waitingCount() << ", refused " << terminal.link->refusedCount()
        << ", log lines " << logLines().size();
    EXPECT_EQ(rows(), QStringLiteral("0101|2026-03-02 08:30:00 0103|2026-03-02 08:30:20"));
    EXPECT_GE(refusedSignals, 2);
    // One line per refused swipe, with the server's reason.
    const QList<QByteArray> lines = logLines();
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(line.contains("sgdjb_not_0102")) << line.constData();
        EXPECT_TRUE(line.contains("refused swipe 0102")) << line.constData();
    }
    EXPECT_TRUE(lines[0].contains("2026-03-02 08:00:00")) << lines[0].constData();
    EXPECT_TRUE(lines[1].contains("2026-03-02 08:30:10")) << lines[1].constData();

    // Later swipes go straight to the server: nothing is dammed up.
    EXPECT_EQ(terminal.swipe(QStringLiteral("0104"), "2026-03-02 08:40:00").kind, Kind::Recorded);
    EXPECT_EQ(sql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0104'")), QStringLiteral("1"));
    EXPECT_EQ(terminal.link->waitingCount(), 0);

    // kqdb outbox lists them with the reason.
    TestSupport::ToolRun run =
        TestSupport::runKqdb({QStringLiteral("outbox"), m_target, QStringLiteral("--store"), storePath});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    const QString out = QString::fromUtf8(run.out);
    EXPECT_TRUE(out.contains(QStringLiteral("0 waiting\n"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QRegularExpression(
        QStringLiteral("\\d+\t0102\t[^\t]+\t2026-03-02 08:00:00\trefused: [^\n]*sgdjb_not_0102"))))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QRegularExpression(
        QStringLiteral("\\d+\t0102\t[^\t]+\t2026-03-02 08:30:10\trefused: [^\n]*sgdjb_not_0102"))))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("2 refused by the server"))) << out.toStdString();

    // Tried again before the cause is mended: still refused, kept, exit 1.
    const QStringList retry = {QStringLiteral("forward"), m_target, QStringLiteral("--store"), storePath,
                               QStringLiteral("--retry-refused")};
    run = TestSupport::runKqdb(retry);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "forwarded 0, already recorded 0, waiting 0, refused 2\n");
    EXPECT_TRUE(run.err.contains("--retry-refused")) << run.err.constData();
    EXPECT_EQ(LocalStore(storePath).refusedCount(), 2);

    // Mended: both arrive with their own instants, once, even when sent twice.
    sql(QStringLiteral("ALTER TABLE sgdjb DROP CONSTRAINT sgdjb_not_0102"));
    run = TestSupport::runKqdb(retry);
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, "forwarded 2, already recorded 0, waiting 0, refused 0\n");
    // The window's count follows the store, whichever program emptied it.
    EXPECT_TRUE(waitWithEvents([&] { return terminal.link->refusedCount() == 0 && lastRefused == 0; }, 5000))
        << terminal.link->refusedCount();
    EXPECT_EQ(TestSupport::runKqdb(retry).out, "forwarded 0, already recorded 0, waiting 0, refused 0\n");
    EXPECT_EQ(rows(), QStringLiteral("0102|2026-03-02 08:00:00 0101|2026-03-02 08:30:00 "
                                     "0102|2026-03-02 08:30:10 0103|2026-03-02 08:30:20 "
                                     "0104|2026-03-02 08:40:00"));
    EXPECT_EQ(LocalStore(storePath).refusedCount(), 0);

    // Without --retry-refused, outbox takes no such option.
    EXPECT_EQ(TestSupport::runKqdb({QStringLiteral("outbox"), m_target, QStringLiteral("--retry-refused")})
                  .exitCode,
              2);
}

// kqdb outbox and forward as a site admin uses them, on the store a terminal of this user
// keeps for the server: outbox only looks (an absent store is not made), forward sends.
TEST_F(RefusedSwipeTest, KqdbShowsTheOutboxAndForwardsIt)
{
    const QString state = tempPath("state");
    qputenv("XDG_STATE_HOME", state.toUtf8());
    const QString storePath = LocalStore::pathFor(ConnectionString::forServer(m_target));
    ASSERT_TRUE(storePath.startsWith(state + QStringLiteral("/tavelo/"))) << storePath.toStdString();

    TestSupport::ToolRun run = TestSupport::runKqdb({QStringLiteral("outbox"), m_target});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, "store: " + storePath.toUtf8() + "\n0 waiting\n");
    EXPECT_FALSE(QFile::exists(storePath)) << "looking must not create a store";

    {
        LocalStore store(storePath);
        StoredSwipe swipe;
        swipe.num = QStringLiteral("0101");
        swipe.name = QStringLiteral("张伟");
        swipe.date = QDate(2026, 3, 2);
        swipe.time = QTime(8, 0, 0);
        swipe.opdate = Statements::kFixedOpDate;
        store.enqueue(swipe);
        swipe.num = QStringLiteral("0102");
        swipe.name = QStringLiteral("王芳");
        swipe.time = QTime(8, 0, 30);
        store.enqueue(swipe);
    }
    // Another terminal recorded 0102 a little later: that one is dropped as recorded.
    sql(QStringLiteral("INSERT INTO sgdjb VALUES ('0102', '王芳', '2026-03-02', '08:01:00', '2026-03-02')"));

    run = TestSupport::runKqdb({QStringLiteral("outbox"), m_target});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(QString::fromUtf8(run.out), QStringLiteral("store: %1\n1\t0101\t张伟\t2026-03-02 08:00:00\n"
                                                         "2\t0102\t王芳\t2026-03-02 08:00:30\n2 waiting\n")
                                              .arg(storePath));

    run = TestSupport::runKqdb({QStringLiteral("forward"), m_target});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, "forwarded 1, already recorded 1, waiting 0, refused 0\n");
    EXPECT_EQ(rows(), QStringLiteral("0101|2026-03-02 08:00:00 0102|2026-03-02 08:01:00"));
    EXPECT_EQ(LocalStore(storePath).waitingCount(), 0);
    qunsetenv("XDG_STATE_HOME");
}

TEST_F(RefusedSwipeTest, ATriggerOrAMissingPermissionRefusesForGoodAMissingTableDoesNot)
{
    // A trigger's exception: set aside.
    sql(QStringLiteral("CREATE FUNCTION no_night_swipes() RETURNS trigger AS $$ BEGIN "
                       "IF NEW.t < '06:00' THEN RAISE EXCEPTION 'no swipes before six'; END IF; "
                       "RETURN NEW; END $$ LANGUAGE plpgsql; "
                       "CREATE TRIGGER no_night_swipes BEFORE INSERT ON sgdjb FOR EACH ROW EXECUTE FUNCTION "
                       "no_night_swipes()"));
    const QString storePath = tempPath("store.sqlite");
    {
        LocalStore store(storePath);
        StoredSwipe swipe;
        swipe.num = QStringLiteral("0101");
        swipe.name = QStringLiteral("张伟");
        swipe.date = QDate(2026, 3, 2);
        swipe.opdate = Statements::kFixedOpDate;
        swipe.time = QTime(5, 59, 0);
        store.enqueue(swipe);
        swipe.time = QTime(6, 1, 0);
        swipe.num = QStringLiteral("0103");
        store.enqueue(swipe);
    }
    TestSupport::ToolRun run =
        TestSupport::runKqdb({QStringLiteral("forward"), m_target, QStringLiteral("--store"), storePath});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "forwarded 1, already recorded 0, waiting 0, refused 1\n");
    ASSERT_EQ(LocalStore(storePath).refused().size(), 1u);
    EXPECT_TRUE(
        LocalStore(storePath).refused().front().reason.contains(QStringLiteral("no swipes before six")));

    // A missing table is the server's set-up, not this swipe's fault: it waits.
    sql(QStringLiteral("ALTER TABLE sgdjb RENAME TO sgdjb_moved"));
    {
        LocalStore store(storePath);
        StoredSwipe swipe;
        swipe.num = QStringLiteral("0104");
        swipe.date = QDate(2026, 3, 2);
        swipe.time = QTime(9, 0, 0);
        swipe.opdate = Statements::kFixedOpDate;
        store.enqueue(swipe);
    }
    run = TestSupport::runKqdb({QStringLiteral("forward"), m_target, QStringLiteral("--store"), storePath});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "forwarded 0, already recorded 0, waiting 1, refused 1\n");
    sql(QStringLiteral("ALTER TABLE sgdjb_moved RENAME TO sgdjb"));

    // No INSERT right for the terminals' role: refused for good as well.
    sql(QStringLiteral("REVOKE INSERT ON sgdjb FROM tavelo_terminal"));
    run = TestSupport::runKqdb(
        {QStringLiteral("forward"),
         server().conninfo(QStringLiteral("refusing"), QStringLiteral("tavelo_terminal")),
         QStringLiteral("--store"), storePath});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "forwarded 0, already recorded 0, waiting 0, refused 2\n");
    EXPECT_TRUE(LocalStore(storePath).refused().back().reason.contains(QStringLiteral("permission denied")))
        << LocalStore(storePath).refused().back().reason.toStdString();
}

} // namespace
