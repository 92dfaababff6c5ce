// A server's rows read as they come: a statement's first rows reach the reader while the
// server still works on the rest, a refusal after some rows loads nothing, a read left
// halfway leaves the connection (and a pooled server connection) ready for the next
// statement, and a network that goes silent halfway through fails within the bound.

#include "interchange/DevSchema.h"
#include "platform/DatabaseError.h"
#include "platform/QueryStateError.h"
#include "platform/ServerUnreachable.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/Statements.h"
#include "support/LoopbackRelay.h"
#include "support/PgTestPooler.h"
#include "support/ServerSuite.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class PgStreamTest : public ServerSuite
{
protected:
    void SetUp() override
    {
        ServerSuite::SetUp();
        open(m_connection, conninfo());
        m_query.setConnection(&m_connection);
    }
    static void open(AdoConnection& connection, const QString& serverConninfo)
    {
        connection.setConnectionString(ConnectionString::forServer(serverConninfo));
        connection.setNetworkTimeout(5000);
    }
    // The employee list loaded on the connection, as the window loads it.
    static int listRows(AdoConnection& connection)
    {
        AdoQuery list(QStringLiteral("YgQry"));
        list.setConnection(&connection);
        return CommFunc::OpenTableQuery(&list, Statements::kEmployTable, QString(), QString());
    }

    AdoConnection m_connection;
    AdoQuery m_query{QStringLiteral("StreamQry")};
};

TEST_F(PgStreamTest, TheFirstRowsArriveWhileTheServerStillWorksOnTheRest)
{
    // Another session holds a lock the statement's third row waits for: only a reader that
    // takes rows as they come sees the first ones before that lock is let go; one that waits
    // for the whole result would wait past its bound.
    AdoConnection holder;
    open(holder, conninfo());
    holder.execute(QStringLiteral("SELECT pg_advisory_lock(2801)"));
    m_query.sqlAdd(
        QStringLiteral("SELECT n, CASE WHEN n = 3 THEN CAST(pg_advisory_lock(2801) AS text) END AS w, "
                       "repeat('x', 65536) AS pad FROM generate_series(1, 5) AS n"));
    QStringList seen;
    const qint64 rows = m_query.openForEach([&] {
        seen.append(m_query.fieldAsString(QStringLiteral("n")));
        EXPECT_EQ(m_query.fieldAsString(QStringLiteral("pad")).size(), 65536);
        if (seen.size() == 1) {
            EXPECT_EQ(
                psql(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                                    "AND pid <> pg_backend_pid() AND query LIKE '%generate_series(1, 5)%'")),
                QStringLiteral("1"));
            holder.execute(QStringLiteral("SELECT pg_advisory_unlock(2801)"));
        }
    });
    EXPECT_EQ(rows, 5);
    EXPECT_EQ(seen, (QStringList{"1", "2", "3", "4", "5"}));
    // The session lock the statement took is the connection's; the next statement runs on it.
    m_connection.execute(QStringLiteral("SELECT pg_advisory_unlock_all()"));
    EXPECT_EQ(listRows(m_connection), int(DevSchema::demoEmployees().size()));
}

TEST_F(PgStreamTest, ARefusalAfterSomeRowsLoadsNoListAndTheNextLoadWorks)
{
    // Rows 1 to 599 come before the server refuses row 600: the query must not open with
    // them as if they were the whole list.
    m_query.sqlAdd(QStringLiteral("SELECT n, 1 / (n - 600) AS q, repeat('x', 200) AS pad "
                                  "FROM generate_series(1, 1000) AS n"));
    EXPECT_THROW(m_query.open(), DatabaseError);
    EXPECT_FALSE(m_query.isOpen());
    EXPECT_THROW(m_query.recordCount(), QueryStateError);
    qint64 visited = 0;
    try {
        m_query.openForEach([&] { ++visited; });
        ADD_FAILURE() << "a refused statement read as done";
    } catch (const DatabaseError& error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("division by zero")))
            << error.message().toStdString();
    }
    EXPECT_LT(visited, 600);
    EXPECT_EQ(listRows(m_connection), int(DevSchema::demoEmployees().size()));
}

TEST_F(PgStreamTest, AReadLeftHalfwayLeavesTheConnectionReady)
{
    m_query.sqlAdd(QStringLiteral("SELECT n, repeat('x', 100) FROM generate_series(1, 200000) AS n"));
    int visited = 0;
    EXPECT_THROW(m_query.openForEach([&] {
        if (++visited == 3)
            throw std::runtime_error("the reader stops");
    }),
                 std::runtime_error);
    EXPECT_EQ(visited, 3);
    // The rest was read off: the same connection answers the next statement, and the
    // server's session is idle, not still sending.
    EXPECT_EQ(listRows(m_connection), int(DevSchema::demoEmployees().size()));
    EXPECT_EQ(
        psql(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE state <> 'idle' "
                            "AND pid <> pg_backend_pid() AND query LIKE '%generate_series(1, 200000)%'")),
        QStringLiteral("0"));
}

TEST_F(PgStreamTest, AReadLeftHalfwayThroughATransactionPoolLeavesItsServerConnectionToOthers)
{
    // One server connection for every client: were it left inside the first client's
    // statement, the second client would wait behind it.
    PgTestPooler pooler(server(), PgTestPooler::Mode::Transaction, 1);
    AdoConnection first;
    open(first, pooler.conninfo());
    AdoQuery big(QStringLiteral("StreamQry"));
    big.setConnection(&first);
    big.sqlAdd(QStringLiteral("SELECT n, repeat('x', 100) FROM generate_series(1, 200000) AS n"));
    EXPECT_THROW(big.openForEach([] { throw std::runtime_error("the reader stops"); }), std::runtime_error);

    AdoConnection second;
    open(second, pooler.conninfo());
    EXPECT_EQ(listRows(second), int(DevSchema::demoEmployees().size()));
    EXPECT_EQ(listRows(first), int(DevSchema::demoEmployees().size()));
    EXPECT_EQ(pooler.psql(QStringLiteral("SELECT count(*) FROM employ")),
              QString::number(DevSchema::demoEmployees().size()));
}

TEST_F(PgStreamTest, ANetworkGoingSilentHalfwayFailsWithinTheBound)
{
    LoopbackRelay relay(QStringLiteral("%1/.s.PGSQL.%2").arg(server().socketDir()).arg(server().port()));
    AdoConnection connection;
    open(connection, QStringLiteral("host=127.0.0.1 port=%1 dbname=kq user=%2")
                         .arg(relay.port())
                         .arg(server().superuser()));
    connection.setNetworkTimeout(1000);
    AdoQuery query(QStringLiteral("YgQry"));
    query.setConnection(&connection);
    // More than every buffer on the way holds, so that the reader runs dry.
    query.sqlAdd(QStringLiteral("SELECT n, repeat('x', 200) FROM generate_series(1, 200000) AS n"));
    qint64 visited = 0;
    EXPECT_THROW(query.openForEach([&] {
        if (++visited == 1)
            relay.setSilent(true);
    }),
                 ServerUnreachable);
    EXPECT_GE(visited, 1);
    EXPECT_LT(visited, 200000);

    // Back again: the next load connects afresh and reads every employee.
    relay.setSilent(false);
    relay.dropConnections();
    connection.setNetworkTimeout(5000);
    EXPECT_EQ(listRows(connection), int(DevSchema::demoEmployees().size()));
}

} // namespace
