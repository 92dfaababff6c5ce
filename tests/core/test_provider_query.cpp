#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "platform/QueryParameterError.h"
#include "platform/ConversionError.h"
#include "platform/QueryStateError.h"
#include "platform/DatabaseError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using TestSupport::DevDatabase;

namespace {

class ProviderQuery : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_connection.setConnectionString(m_db.connectionString());
        m_query.setConnection(&m_connection);
    }

    void openOn(const QString& sql)
    {
        m_query.close();
        m_query.sqlClear();
        m_query.sqlAdd(sql);
        m_query.open();
    }

    DevDatabase m_db;
    AdoConnection m_connection;
    AdoQuery m_query{QStringLiteral("YgQry")};
};

} // namespace

TEST_F(ProviderQuery, ParametersAreRebuiltInOrderOfAppearanceSkippingQuotedText)
{
    m_query.sqlAdd(QStringLiteral("SELECT ':no', \"x:y\", [a:b] FROM sgdjb -- :comment"));
    m_query.sqlAdd(QStringLiteral("WHERE num=:Num AND /* :c */ name=:name AND D>:d1 AND num<>:num"));
    EXPECT_EQ(m_query.parameterNames(), (QStringList{"Num", "name", "d1"}));
    EXPECT_THROW(m_query.setParameter(QStringLiteral("d2"), QStringLiteral("x")), QueryParameterError);
    try {
        m_query.setParameter(QStringLiteral("d2"), QStringLiteral("x"));
    } catch (const QueryStateError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("YgQry: Parameter 'd2' not found"));
    }
    m_query.sqlClear();
    EXPECT_TRUE(m_query.parameterNames().isEmpty());
}

TEST_F(ProviderQuery, ClosedDatasetAndMissingFieldErrors)
{
    const QString closed = QStringLiteral("YgQry: Cannot perform this operation on a closed dataset");
    auto expectClosed = [&](auto operation) {
        try {
            operation();
            ADD_FAILURE() << "no error on a closed dataset";
        } catch (const QueryStateError& e) {
            EXPECT_EQ(e.message(), closed);
        }
    };
    expectClosed([&] { m_query.recordCount(); });
    expectClosed([&] { m_query.first(); });
    expectClosed([&] { m_query.fieldAsString(QStringLiteral("num")); });
    expectClosed([&] { m_query.locate(QStringLiteral("num"), QStringLiteral("01")); });
    expectClosed([&] { m_query.deleteCurrent(); });
    EXPECT_NO_THROW(m_query.close());

    openOn(QStringLiteral("SELECT * FROM employ"));
    try {
        m_query.fieldAsString(QStringLiteral("nope"));
        FAIL();
    } catch (const QueryStateError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("YgQry: Field 'nope' not found"));
    }
}

TEST_F(ProviderQuery, EmptyTableNullsAndConversions)
{
    openOn(QStringLiteral("SELECT * FROM employ"));
    EXPECT_EQ(m_query.recordCount(), 0);
    EXPECT_TRUE(m_query.isEmpty());
    EXPECT_EQ(m_query.recNo(), -1);
    EXPECT_FALSE(m_query.locate(QStringLiteral("num"), QStringLiteral("0")));
    EXPECT_EQ(m_query.fieldCount(), 3);
    EXPECT_EQ(m_query.fieldDisplayWidth(m_query.fieldIndex(QStringLiteral("name"))), 20);

    m_db.exec(QStringLiteral("INSERT INTO sgdjb VALUES ('0101', NULL, 'not a date', 3600, NULL)"));
    openOn(QStringLiteral("SELECT * FROM sgdjb"));
    EXPECT_FALSE(m_query.isEmpty());
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("name")), QString());
    EXPECT_EQ(m_query.fieldAsDateTime(QStringLiteral("T")).seconds(), 3600);
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("T")), QStringLiteral("01:00:00"));
    EXPECT_THROW(m_query.fieldAsDateTime(QStringLiteral("D")), ConversionError);
}

TEST_F(ProviderQuery, LocateTakesTheFirstMatchInAscendingOrderWithoutRegardToCase)
{
    m_db.exec(
        QStringLiteral("INSERT INTO employ VALUES ('0105','E','01'), ('0101','A','01'), ('0103','C','01'),"
                       "('AB12','X','02'), ('', 'Blank', '02'), ('cd34','Y','02')"));
    openOn(QStringLiteral("SELECT * FROM employ"));
    int changes = 0;
    QObject::connect(&m_query, &AdoQuery::currentChanged, [&] { ++changes; });

    EXPECT_TRUE(m_query.locate(QStringLiteral("num"), QStringLiteral("010")));
    EXPECT_EQ(m_query.recNo(), 1);
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("name")), QStringLiteral("A"));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(m_query.locate(QStringLiteral("NUM"), QStringLiteral("ab")));
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("num")), QStringLiteral("AB12"));
    EXPECT_TRUE(m_query.locate(QStringLiteral("num"), QStringLiteral("CD")));
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("num")), QStringLiteral("cd34"));
    EXPECT_TRUE(m_query.locate(QStringLiteral("num"), QStringLiteral("Ab1")));
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("num")), QStringLiteral("AB12"));

    EXPECT_FALSE(m_query.locate(QStringLiteral("num"), QStringLiteral("0102")));
    EXPECT_FALSE(m_query.locate(QStringLiteral("num"), QStringLiteral("9")));
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("num")), QStringLiteral("AB12"));

    EXPECT_TRUE(m_query.locate(QStringLiteral("num"), QString()));
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("name")), QStringLiteral("Blank"));
    EXPECT_THROW(m_query.locate(QStringLiteral("nope"), QStringLiteral("1")), QueryStateError);
}

TEST_F(ProviderQuery, DeleteRemovesExactlyTheCurrentRowEvenAmongIdenticalOnes)
{
    m_db.exec(
        QStringLiteral("INSERT INTO employ VALUES ('0101','A','01'), ('0102','B','01'), ('0102','B','01'),"
                       "('0103','C','01')"));
    openOn(QStringLiteral("SELECT * FROM employ e WHERE dept_no = '01'"));
    ASSERT_TRUE(m_query.canModify());
    ASSERT_TRUE(m_query.locate(QStringLiteral("num"), QStringLiteral("0103")));
    EXPECT_TRUE(m_query.locate(QStringLiteral("num"), QStringLiteral("0102")));
    EXPECT_EQ(m_query.recNo(), 1);
    int deletedRow = -1;
    QObject::connect(&m_query, &AdoQuery::rowDeleted, [&](int row) { deletedRow = row; });

    m_query.deleteCurrent();
    EXPECT_EQ(deletedRow, 1);
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM employ WHERE num='0102'")), 1);
    EXPECT_EQ(m_query.recordCount(), 3);
    EXPECT_EQ(m_query.recNo(), 1);
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("num")), QStringLiteral("0102"));
    // The locate index follows the deletion.
    EXPECT_TRUE(m_query.locate(QStringLiteral("num"), QStringLiteral("0103")));
    EXPECT_EQ(m_query.recNo(), 2);

    m_query.last();
    m_query.deleteCurrent();
    EXPECT_EQ(m_query.recNo(), 1);
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM employ")), 2);

    // A row another program deleted already is an error, and the snapshot keeps it.
    m_db.exec(QStringLiteral("DELETE FROM employ WHERE num='0102'"));
    EXPECT_THROW(m_query.deleteCurrent(), DatabaseError);
    EXPECT_EQ(m_query.recordCount(), 2);

    // A result that does not map to table rows cannot be modified.
    openOn(QStringLiteral("SELECT count(*) AS n FROM employ"));
    EXPECT_FALSE(m_query.canModify());
    EXPECT_THROW(m_query.deleteCurrent(), QueryStateError);
}

TEST_F(ProviderQuery, RefusedDeleteLeavesTheRowInPlace)
{
    m_db.exec(QStringLiteral("INSERT INTO employ VALUES ('0101','A','01'), ('0102','B','01')"));

    // Read-only open.
    AdoConnection readOnly;
    readOnly.setConnectionString(m_db.connectionString().replace(QStringLiteral("Read|Write"), "Read"));
    AdoQuery query(QStringLiteral("YgQry"));
    query.setConnection(&readOnly);
    query.sqlAdd(QStringLiteral("SELECT * FROM employ"));
    query.open();
    ASSERT_TRUE(query.canModify());
    EXPECT_THROW(query.deleteCurrent(), DatabaseError);
    EXPECT_EQ(query.recordCount(), 2);
    EXPECT_EQ(query.fieldAsString(QStringLiteral("num")), QStringLiteral("0101"));

    // Another program holds the write lock: after the busy timeout the delete is refused.
    openOn(QStringLiteral("SELECT * FROM employ"));
    const TestSupport::SqliteFile other(m_db.path());
    other.exec(QStringLiteral("BEGIN EXCLUSIVE"));
    try {
        m_query.deleteCurrent();
        ADD_FAILURE() << "delete under a lock succeeded";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("locked"))) << e.message().toStdString();
    }
    other.exec(QStringLiteral("ROLLBACK"));
    EXPECT_EQ(m_query.recordCount(), 2);
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM employ")), 2);
}

TEST_F(ProviderQuery, DeleteRefusesARowReplacedUnderTheSameRowIdOrChangedSinceLoading)
{
    m_db.exec(QStringLiteral("INSERT INTO employ VALUES ('0101','A','01'), ('0102','B','01')"));
    openOn(QStringLiteral("SELECT * FROM employ"));
    m_query.last();
    ASSERT_EQ(m_query.fieldAsString(QStringLiteral("num")), QStringLiteral("0102"));

    // Another program deletes the loaded row and inserts a different employee, which SQLite
    // gives the freed row id.
    m_db.exec(QStringLiteral("DELETE FROM employ WHERE num='0102';"
                             "INSERT INTO employ VALUES ('0999','Z','02');"));
    ASSERT_EQ(m_db.scalar(QStringLiteral("SELECT rowid FROM employ WHERE num='0999'")), 2);

    try {
        m_query.deleteCurrent();
        ADD_FAILURE() << "the replacing row was deleted";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Row cannot be located for updating. Some values may have been "
                                              "changed since it was last read."));
    }
    EXPECT_EQ(m_db.text(QStringLiteral("SELECT name FROM employ WHERE num='0999'")), QStringLiteral("Z"));
    EXPECT_EQ(m_query.recordCount(), 2);
    EXPECT_EQ(m_query.recNo(), 1);
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("name")), QStringLiteral("B"));

    // A row changed in place is refused as well; an unchanged one, including a null and a
    // date/time, still goes.
    m_db.exec(QStringLiteral("UPDATE employ SET name='a' WHERE num='0101'"));
    m_query.first();
    EXPECT_THROW(m_query.deleteCurrent(), DatabaseError);
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM employ")), 2);

    m_db.exec(QStringLiteral("INSERT INTO sgdjb VALUES ('0101', NULL, '2024-05-06', '08:30:00', 1.5)"));
    openOn(QStringLiteral("SELECT * FROM sgdjb"));
    m_query.deleteCurrent();
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 0);
}

TEST_F(ProviderQuery, DeleteUsesTheHiddenRowIdWhenAColumnIsNamedRowId)
{
    m_db.exec(QStringLiteral("CREATE TABLE badge (rowid TEXT, holder TEXT);"
                             "INSERT INTO badge VALUES ('7','A'), ('7','B'), ('7','C')"));
    openOn(QStringLiteral("SELECT * FROM badge"));
    ASSERT_TRUE(m_query.canModify());
    EXPECT_EQ(m_query.fieldCount(), 2);
    EXPECT_EQ(m_query.fieldName(0), QStringLiteral("rowid"));
    m_query.setRecNo(1);
    m_query.deleteCurrent();
    EXPECT_EQ(m_db.text(QStringLiteral("SELECT group_concat(holder, '') FROM badge")), QStringLiteral("AC"));

    m_db.exec(QStringLiteral("CREATE TABLE shadow (\"ROWID\" INT, _rowid_ INT, oid INT, n TEXT);"
                             "INSERT INTO shadow VALUES (1, 2, 3, 'x')"));
    openOn(QStringLiteral("SELECT * FROM shadow"));
    EXPECT_FALSE(m_query.canModify());
    EXPECT_THROW(m_query.deleteCurrent(), QueryStateError);
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM shadow")), 1);
}

TEST_F(ProviderQuery, TextAfterTheFirstStatementIsRejectedNotDropped)
{
    m_db.exec(QStringLiteral("INSERT INTO employ VALUES ('0101','A','01'), ('0102','B','01')"));
    const QString message = QStringLiteral("Characters found after end of SQL statement.");
    const QStringList rejected = {QStringLiteral("DELETE FROM employ WHERE num='0101'; DELETE FROM employ"),
                                  QStringLiteral("DELETE FROM employ WHERE num='0101';;x"),
                                  QStringLiteral("DELETE FROM employ WHERE num='0101' /* c */ ; -- c\nx")};
    for (const QString& sql : rejected) {
        m_query.sqlClear();
        m_query.sqlAdd(sql);
        try {
            m_query.execSql();
            ADD_FAILURE() << "accepted: " << sql.toStdString();
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.message(), message);
        }
    }
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM employ")), 2);
    try {
        openOn(QStringLiteral("SELECT * FROM employ; SELECT 1"));
        ADD_FAILURE() << "two selects opened";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.message(), message);
    }
    EXPECT_FALSE(m_query.isOpen());

    // Blanks, semicolons and comments after the statement are fine.
    openOn(QStringLiteral("SELECT * FROM employ ;\t; -- rest\n /* more */\r\n"));
    EXPECT_EQ(m_query.recordCount(), 2);
    m_query.sqlClear();
    m_query.sqlAdd(QStringLiteral("DELETE FROM employ WHERE num='0101'; /* unterminated"));
    EXPECT_EQ(m_query.execSql(), 1);
}

TEST_F(ProviderQuery, AConnectionOpenedForReadingGivesAReadOnlyDataset)
{
    m_db.exec(QStringLiteral("INSERT INTO employ VALUES ('0101','A','01'), ('0102','B','01')"));
    AdoConnection reading;
    reading.setConnectionString(m_db.connectionString());
    reading.setMode(AdoConnection::Mode::Read);
    AdoQuery query(QStringLiteral("YgQry"));
    query.setConnection(&reading);
    query.sqlAdd(QStringLiteral("SELECT * FROM employ"));
    query.open();
    ASSERT_EQ(query.recordCount(), 2);
    EXPECT_FALSE(query.canModify());
    EXPECT_THROW(query.deleteCurrent(), QueryStateError);
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM employ")), 2);
    EXPECT_EQ(query.recordCount(), 2);
}
