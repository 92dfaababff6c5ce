// Forwarding the outbox to a database: each swipe arrives once, with its own instant,
// oldest first, whatever fails in between. A database file stands in for the server here;
// the server itself is covered by the offline server tests.
#include "attendance/CardSwipe.h"
#include "attendance/LocalStore.h"
#include "attendance/OutboxForwarder.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

StoredSwipe swipeAt(const QString& num, const QString& name, const QDateTime& at)
{
    StoredSwipe swipe;
    swipe.num = num;
    swipe.name = name;
    swipe.date = at.date();
    swipe.time = at.time();
    swipe.opdate = QStringLiteral("1999-01-01");
    return swipe;
}

QDateTime at(int hour, int minute, int second)
{
    return QDateTime(QDate(2026, 3, 2), QTime(hour, minute, second), Qt::UTC);
}

class OutboxForwardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_storePath = m_dir.filePath(QStringLiteral("store.sqlite"));
    }

    QString rows()
    {
        return m_db.text(QStringLiteral("SELECT group_concat(num || ' ' || name || ' ' || datetime(D + T, "
                                        "'unixepoch') || ' ' || date(opdate, 'unixepoch'), ' | ') "
                                        "FROM (SELECT * FROM sgdjb ORDER BY rowid)"));
    }

    QTemporaryDir m_dir;
    QString m_storePath;
    TestSupport::DevDatabase m_db;
};

TEST_F(OutboxForwardTest, SwipesArriveOldestFirstWithTheirOwnInstants)
{
    {
        LocalStore store(m_storePath);
        store.enqueue(swipeAt(QStringLiteral("1002"), QStringLiteral("李四"), at(8, 0, 5)));
        store.enqueue(swipeAt(QStringLiteral("1001"), QStringLiteral("张三"), at(7, 59, 59)));
        store.enqueue(swipeAt(QStringLiteral("1002"), QStringLiteral("李四"), at(17, 30, 0)));
    }
    OutboxForwarder forwarder(m_db.connectionString(), m_storePath);
    const OutboxForwarder::Result result = forwarder.forwardAll();
    EXPECT_EQ(result.forwarded, 3);
    EXPECT_EQ(result.alreadyRecorded, 0);
    EXPECT_EQ(rows(), QStringLiteral("1002 李四 2026-03-02 08:00:05 1999-01-01 | "
                                     "1001 张三 2026-03-02 07:59:59 1999-01-01 | "
                                     "1002 李四 2026-03-02 17:30:00 1999-01-01"));
    EXPECT_EQ(forwarder.store().waitingCount(), 0);
}

TEST_F(OutboxForwardTest, RowWithinTheWindowAtTheServerDropsTheSwipe)
{
    // Another terminal recorded 1001 at 08:01:00; the queued swipe at 08:03:59 is within
    // three minutes of it, the one at 08:04:00 is not.
    m_db.exec(QStringLiteral("INSERT INTO sgdjb VALUES ('1001', '张三', strftime('%s','2026-03-02'), "
                             "8*3600+60, strftime('%s','1999-01-01'))"));
    {
        LocalStore store(m_storePath);
        store.enqueue(swipeAt(QStringLiteral("1001"), QStringLiteral("张三"), at(8, 3, 59)));
        store.enqueue(swipeAt(QStringLiteral("1001"), QStringLiteral("张三"), at(8, 4, 0)));
        store.enqueue(swipeAt(QStringLiteral("1001"), QStringLiteral("张三"), at(7, 58, 1)));
    }
    OutboxForwarder forwarder(m_db.connectionString(), m_storePath);
    const OutboxForwarder::Result result = forwarder.forwardAll();
    EXPECT_EQ(result.forwarded, 1);
    EXPECT_EQ(result.alreadyRecorded, 2);
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 2);
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb WHERE T = 8*3600+4*60")), 1);
    EXPECT_EQ(forwarder.store().waitingCount(), 0);
}

TEST_F(OutboxForwardTest, DeathAfterTheCommitForwardsNothingTwice)
{
    {
        LocalStore store(m_storePath);
        store.enqueue(swipeAt(QStringLiteral("1001"), QStringLiteral("张三"), at(8, 0, 0)));
        store.enqueue(swipeAt(QStringLiteral("1002"), QStringLiteral("李四"), at(8, 0, 1)));
    }
    {
        OutboxForwarder dying(m_db.connectionString(), m_storePath);
        int commits = 0;
        dying.afterCommit = [&](const StoredSwipe&) {
            if (++commits == 2)
                throw std::runtime_error("killed between the commit and the outbox update");
        };
        EXPECT_THROW(dying.forwardAll(), std::runtime_error);
        EXPECT_EQ(dying.store().waitingCount(), 1);
    }
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 2);

    OutboxForwarder again(m_db.connectionString(), m_storePath);
    const OutboxForwarder::Result result = again.forwardAll();
    EXPECT_EQ(result.forwarded, 0);
    EXPECT_EQ(result.alreadyRecorded, 1);
    EXPECT_EQ(rows(), QStringLiteral("1001 张三 2026-03-02 08:00:00 1999-01-01 | "
                                     "1002 李四 2026-03-02 08:00:01 1999-01-01"));
    EXPECT_EQ(again.store().waitingCount(), 0);
}

TEST_F(OutboxForwardTest, RefusedForwardKeepsTheSwipe)
{
    {
        LocalStore store(m_storePath);
        store.enqueue(swipeAt(QStringLiteral("1001"), QStringLiteral("张三"), at(8, 0, 0)));
    }
    m_db.exec(QStringLiteral("DROP TABLE sgdjb"));
    OutboxForwarder forwarder(m_db.connectionString(), m_storePath);
    EXPECT_ANY_THROW(forwarder.forwardAll());
    EXPECT_EQ(forwarder.store().waitingCount(), 1);
}

// A terminal on a database file keeps swipes in a store of its own while another program
// holds the file: kqdb shows and writes them as it does a server's.
TEST_F(OutboxForwardTest, KqdbShowsTheOutboxAndForwardsIt)
{
    const QString state = m_dir.filePath(QStringLiteral("state"));
    qputenv("XDG_STATE_HOME", state.toUtf8());
    const QString storePath = LocalStore::pathFor(m_db.connectionString());
    ASSERT_TRUE(storePath.startsWith(state + QStringLiteral("/tavelo/")));

    TestSupport::ToolRun run = TestSupport::runKqdb({QStringLiteral("outbox"), m_db.path()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "store: " + storePath.toUtf8() + "\n0 waiting\n");
    EXPECT_FALSE(QFile::exists(storePath)) << "looking must not create a store";

    {
        LocalStore store(storePath);
        store.enqueue(swipeAt(QStringLiteral("1001"), QStringLiteral("张三"), at(8, 0, 0)));
        store.enqueue(swipeAt(QStringLiteral("1002"), QStringLiteral("李四"), at(8, 0, 30)));
    }
    m_db.exec(QStringLiteral(
        "INSERT INTO sgdjb VALUES ('1002', '李四', strftime('%s','2026-03-02'), 8*3600+60, 0)"));

    run = TestSupport::runKqdb({QStringLiteral("outbox"), m_db.path()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(QString::fromUtf8(run.out), QStringLiteral("store: %1\n1\t1001\t张三\t2026-03-02 08:00:00\n"
                                                         "2\t1002\t李四\t2026-03-02 08:00:30\n2 waiting\n")
                                              .arg(storePath));

    run = TestSupport::runKqdb({QStringLiteral("forward"), m_db.path()});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "forwarded 1, already recorded 1, waiting 0, refused 0\n");
    EXPECT_EQ(rows(), QStringLiteral("1002 李四 2026-03-02 08:01:00 1970-01-01 | "
                                     "1001 张三 2026-03-02 08:00:00 1999-01-01"));

    // A store named on the command line; a database that refuses keeps the swipe, exit 1.
    const QString other = m_dir.filePath(QStringLiteral("other.sqlite"));
    {
        LocalStore store(other);
        store.enqueue(swipeAt(QStringLiteral("1003"), QStringLiteral("王五"), at(9, 0, 0)));
    }
    m_db.exec(QStringLiteral("DROP TABLE sgdjb"));
    run = TestSupport::runKqdb({QStringLiteral("forward"), m_db.path(), QStringLiteral("--store"), other});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "forwarded 0, already recorded 0, waiting 1, refused 0\n");
    EXPECT_TRUE(run.err.startsWith("kqdb: ")) << run.err.toStdString();
    EXPECT_EQ(TestSupport::runKqdb({QStringLiteral("forward")}).exitCode, 2);
    EXPECT_EQ(
        TestSupport::runKqdb({QStringLiteral("outbox"), m_db.path(), QStringLiteral("--bogus")}).exitCode, 2);
}

} // namespace
