// AdoQuery::openForEach: the rows of a statement one at a time, with the field reads of an
// open query, and the query closed again afterwards.

#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "platform/QueryStateError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class QueryStream : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_connection.setConnectionString(m_db.connectionString());
        m_query.setConnection(&m_connection);
        m_db.exec(QStringLiteral("INSERT INTO sgdjb (num, name, D, T, opdate) VALUES "
                                 "('0102', '王芳', %1, 30600, 0), ('0101', '张伟', %1, 31931, 0), "
                                 "('0103', NULL, %1, 45000, 0)")
                      .arg(TestSupport::wallSeconds(QStringLiteral("2026-12-07 00:00:00"))));
    }

    TestSupport::DevDatabase m_db;
    AdoConnection m_connection;
    AdoQuery m_query{QStringLiteral("StreamQry")};
};

TEST_F(QueryStream, HandsOverEachRowWithTypedFieldsAndParameters)
{
    m_query.sqlAdd(
        QStringLiteral("SELECT num, name, D, T FROM sgdjb WHERE (D+T) >= :from ORDER BY (D+T), num"));
    m_query.setParameter(QStringLiteral("from"), QStringLiteral("2026-12-07 08:52:11"));
    QStringList seen;
    const qint64 rows = m_query.openForEach([&] {
        EXPECT_TRUE(m_query.isOpen());
        const QDateTime at =
            (m_query.fieldAsDateTime(QStringLiteral("D")) + m_query.fieldAsDateTime(QStringLiteral("T")))
                .toDateTime();
        seen.append(m_query.fieldAsString(QStringLiteral("num")) + u'|' +
                    m_query.fieldAsString(QStringLiteral("name")) + u'|' +
                    at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    });
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("0101|张伟|2026-12-07 08:52:11"),
                                 QStringLiteral("0103||2026-12-07 12:30:00")}));
    EXPECT_FALSE(m_query.isOpen());
    EXPECT_THROW(m_query.recordCount(), QueryStateError);
}

TEST_F(QueryStream, ClosesAfterAThrowAndRefusesAStatementWithoutRows)
{
    m_query.sqlAdd(QStringLiteral("SELECT num FROM sgdjb"));
    int visited = 0;
    EXPECT_THROW(m_query.openForEach([&] {
        ++visited;
        throw std::runtime_error("stop");
    }),
                 std::runtime_error);
    EXPECT_EQ(visited, 1);
    EXPECT_FALSE(m_query.isOpen());

    m_query.sqlClear();
    m_query.sqlAdd(QStringLiteral("DELETE FROM sgdjb"));
    EXPECT_THROW(m_query.openForEach([] {}), QueryStateError);
    EXPECT_FALSE(m_query.isOpen());
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 3);
}

} // namespace
