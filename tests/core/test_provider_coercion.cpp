#include "attendance/SwipeWindow.h"
#include "platform/DatabaseError.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/Statements.h"
#include "query/Transaction.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

using TestSupport::DevDatabase;
using TestSupport::wallSeconds;

namespace {

class ProviderCoercion : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_connection.setConnectionString(m_db.connectionString());
        m_query.setConnection(&m_connection);
    }

    void insertRecord(const QString& num, const QString& date, const QString& time)
    {
        m_query.close();
        m_query.sqlClear();
        m_query.sqlAdd(Statements::kRecordInsert);
        m_query.setParameter(QStringLiteral("num"), num);
        m_query.setParameter(QStringLiteral("name"), QStringLiteral("张三"));
        m_query.setParameter(QStringLiteral("d"), date);
        m_query.setParameter(QStringLiteral("t"), time);
        m_query.setParameter(QStringLiteral("opdate"), Statements::kFixedOpDate);
        EXPECT_EQ(m_query.execSql(), 1);
    }

    int duplicates(const QString& num, const QString& from, const QString& to)
    {
        m_query.close();
        m_query.sqlClear();
        m_query.sqlAdd(SwipeWindow::duplicateTest());
        m_query.setParameter(QStringLiteral("num"), num);
        m_query.setParameter(QStringLiteral("d1"), from);
        m_query.setParameter(QStringLiteral("d2"), to);
        m_query.open();
        return m_query.recordCount();
    }

    DevDatabase m_db;
    AdoConnection m_connection;
    AdoQuery m_query{QStringLiteral("RecordQry")};
};

} // namespace

TEST_F(ProviderCoercion, InsertStoresWallClockSecondsAndDuplicateTestIsStrict)
{
    insertRecord(QStringLiteral("0101"), QStringLiteral("2026-03-05"), QStringLiteral("09:30:00"));
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT D FROM sgdjb")), wallSeconds("2026-03-05 00:00:00"));
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT T FROM sgdjb")), 9 * 3600 + 30 * 60);
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT opdate FROM sgdjb")), wallSeconds("1999-01-01 00:00:00"));
    EXPECT_EQ(m_db.text(QStringLiteral("SELECT datetime(D+T,'unixepoch') FROM sgdjb")),
              QStringLiteral("2026-03-05 09:30:00"));
    EXPECT_EQ(m_db.text(QStringLiteral("SELECT name FROM sgdjb")), QStringLiteral("张三"));

    EXPECT_EQ(duplicates("0101", "2026-03-05 09:28:00", "2026-03-05 09:34:00"), 1);
    EXPECT_EQ((m_query.fieldAsDateTime("D") + m_query.fieldAsDateTime("T")).seconds(),
              wallSeconds("2026-03-05 09:30:00"));
    // Exactly three minutes away on either side is not a duplicate.
    EXPECT_EQ(duplicates("0101", "2026-03-05 09:27:00", "2026-03-05 09:33:00"), 1);
    EXPECT_EQ(duplicates("0101", "2026-03-05 09:30:00", "2026-03-05 09:36:00"), 0);
    EXPECT_EQ(duplicates("0101", "2026-03-05 09:24:00", "2026-03-05 09:30:00"), 0);
    EXPECT_EQ(duplicates("0102", "2026-03-05 09:28:00", "2026-03-05 09:34:00"), 0);
}

TEST_F(ProviderCoercion, DuplicateTestIsServedByTheInstantIndex)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(m_db.path().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    const QByteArray sql = "EXPLAIN QUERY PLAN SELECT num,name,D,T, opdate FROM sgdjb WHERE num=?1 AND "
                           "((D+T)>?2 AND (D+T)<?3) ";
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr), SQLITE_OK);
    sqlite3_bind_text(stmt, 1, "0101", -1, SQLITE_STATIC);
    sqlite3_bind_int64(stmt, 2, 100);
    sqlite3_bind_int64(stmt, 3, 200);
    QString plan;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        plan += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    EXPECT_TRUE(
        plan.contains(QStringLiteral("USING INDEX sgdjb_num_instant (num=? AND <expr>>? AND <expr><?)")))
        << plan.toStdString();
}

TEST_F(ProviderCoercion, ColumnTypesAreReadAgainAfterAnotherProgramChangesTheSchema)
{
    insertRecord(QStringLiteral("0101"), QStringLiteral("2026-03-05"), QStringLiteral("09:30:00"));
    EXPECT_EQ(m_db.text(QStringLiteral("SELECT typeof(T) FROM sgdjb")), QStringLiteral("integer"));
    // Another program rebuilds the table with a text column T while this connection stays open.
    m_db.exec(QStringLiteral("DROP TABLE sgdjb; CREATE TABLE sgdjb (num VARCHAR(10), name VARCHAR(20), "
                             "D DATETIME, T VARCHAR(8), opdate DATETIME)"));
    insertRecord(QStringLiteral("0101"), QStringLiteral("2026-03-05"), QStringLiteral("09:30:00"));
    EXPECT_EQ(m_db.text(QStringLiteral("SELECT typeof(T) || ' ' || T || ' ' || typeof(D) FROM sgdjb")),
              QStringLiteral("text 09:30:00 integer"));
}

TEST_F(ProviderCoercion, OnlyDateTimeContextsAreCoerced)
{
    // A number that looks like a date stays text when compared with the text column.
    m_db.exec(QStringLiteral("INSERT INTO sgdjb (num, name) VALUES ('2026-03-05', 'x')"));
    EXPECT_EQ(duplicates("2026-03-05", "1970-01-01 00:00:00", "2100-01-01 00:00:00"), 0); // D+T is NULL
    m_query.close();
    m_query.sqlClear();
    m_query.sqlAdd(QStringLiteral("SELECT * FROM sgdjb WHERE num = :n AND name <> ':x'"));
    m_query.setParameter(QStringLiteral("n"), QStringLiteral("2026-03-05"));
    m_query.open();
    EXPECT_EQ(m_query.recordCount(), 1);

    // The locale's separator or ':' both read; a text that is no date/time fails in a date context.
    insertRecord(QStringLiteral("0101"), QStringLiteral("2026-03-05"), QStringLiteral("9:05"));
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT T FROM sgdjb WHERE num='0101'")), 9 * 3600 + 5 * 60);
    for (const char* bad : {"", "tomorrow", "2026-02-30", "25:00:00", "2026-03-05 9"}) {
        m_query.close();
        m_query.sqlClear();
        m_query.sqlAdd(Statements::kRecordInsert);
        for (const char* p : {"num", "name", "d", "t", "opdate"})
            m_query.setParameter(p, QStringLiteral("2026-03-05"));
        m_query.setParameter(QStringLiteral("t"), bad);
        EXPECT_THROW(m_query.execSql(), DatabaseError) << bad;
    }
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 2);
    EXPECT_THROW(duplicates("0101", "2026-03-05 09:00", "soon"), DatabaseError);

    // Parameter on the left and an insert without a column list use the same rules.
    m_query.close();
    m_query.sqlClear();
    m_query.sqlAdd(QStringLiteral("INSERT INTO sgdjb VALUES (:num, :name, :d, :t, :o)"));
    for (const char* p : {"num", "name", "d", "o"})
        m_query.setParameter(p, QStringLiteral("2026-03-06"));
    m_query.setParameter(QStringLiteral("t"), QStringLiteral("10:00:00"));
    m_query.execSql();
    EXPECT_EQ(m_db.text(QStringLiteral("SELECT typeof(num) || typeof(D) FROM sgdjb WHERE name='2026-03-06'")),
              QStringLiteral("textinteger"));
    m_query.close();
    m_query.sqlClear();
    m_query.sqlAdd(QStringLiteral("SELECT * FROM sgdjb WHERE :at = (D + T)"));
    m_query.setParameter(QStringLiteral("at"), QStringLiteral("2026-03-06 10:00:00"));
    m_query.open();
    EXPECT_EQ(m_query.recordCount(), 1);
}

TEST_F(ProviderCoercion, TransactionRollsBackUnlessCommitted)
{
    {
        Transaction transaction(m_connection);
        insertRecord(QStringLiteral("0101"), QStringLiteral("2026-03-05"), QStringLiteral("09:30:00"));
    }
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 0);
    {
        Transaction transaction(m_connection);
        insertRecord(QStringLiteral("0101"), QStringLiteral("2026-03-05"), QStringLiteral("09:30:00"));
        transaction.commit();
    }
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 1);
    // Commits are durable on the provider's own connection.
    m_query.close();
    m_query.sqlClear();
    m_query.sqlAdd(QStringLiteral("PRAGMA synchronous"));
    m_query.open();
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("synchronous")), QStringLiteral("3")); // EXTRA
}
