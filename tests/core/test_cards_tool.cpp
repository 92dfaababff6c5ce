// kqdb cards: which employee each badge or key fob belongs to, on a database file and on a
// server. A refused import or card leaves the card table exactly as it was.

#include "interchange/DevSchema.h"
#include "platform/DatabaseError.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/ConnectionString.h"
#include "query/Statements.h"
#include "support/ServerSuite.h"
#include "support/SqliteFile.h"
#include "support/TestSupport.h"
#include "support/ToolRun.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestSupport::ToolRun;

std::string text(const ToolRun& run)
{
    return "exit " + std::to_string(run.exitCode) + "\nout: " + run.out.toStdString() +
           "\nerr: " + run.err.toStdString();
}

class CardsTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const ToolRun made = TestSupport::runKqdb(
            {QStringLiteral("create"), db(), QStringLiteral("--employees"), QStringLiteral("20")});
        ASSERT_EQ(made.exitCode, 0) << text(made);
    }

    QString db() const { return m_dir.filePath(QStringLiteral("kq.mdb")); }

    ToolRun importCsv(const QByteArray& csv, const QStringList& options = {})
    {
        const QString file = m_dir.filePath(QStringLiteral("cards.csv"));
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(csv);
        out.close();
        return TestSupport::runKqdb(
            QStringList{QStringLiteral("cards"), QStringLiteral("import"), db(), file} + options);
    }

    QStringList cards() const
    {
        return TestSupport::SqliteFile(db(), TestSupport::SqliteFile::Mode::ReadOnly)
            .rows(QStringLiteral("SELECT card || '>' || num FROM card ORDER BY card"));
    }

    QTemporaryDir m_dir;
};

TEST_F(CardsTool, ImportExportAddAndRemove)
{
    const ToolRun imported = importCsv("num,card\r\n0007,0012345678\r\n0015,0099000001\r\n0007,B00123\r\n");
    ASSERT_EQ(imported.exitCode, 0) << text(imported);
    EXPECT_EQ(imported.out, "imported 3 cards\n");
    EXPECT_EQ(cards(), QStringList({"0012345678>0007", "0099000001>0015", "B00123>0007"}));

    const ToolRun exported = TestSupport::runKqdb({QStringLiteral("cards"), QStringLiteral("export"), db()});
    ASSERT_EQ(exported.exitCode, 0) << text(exported);
    EXPECT_EQ(exported.out, "card,num\r\n0012345678,0007\r\n0099000001,0015\r\nB00123,0007\r\n");

    const ToolRun added = TestSupport::runKqdb({"cards", "add", db(), "0000000042", "0020"});
    EXPECT_EQ(added.exitCode, 0) << text(added);
    const ToolRun removed = TestSupport::runKqdb({"cards", "remove", db(), "B00123"});
    EXPECT_EQ(removed.exitCode, 0) << text(removed);
    EXPECT_EQ(cards(), QStringList({"0000000042>0020", "0012345678>0007", "0099000001>0015"}));

    // One card, one holder; a card nobody has cannot be taken back; nobody gets a card
    // unless in the list.
    const ToolRun twice = TestSupport::runKqdb({"cards", "add", db(), "0012345678", "0003"});
    EXPECT_EQ(twice.exitCode, 1) << text(twice);
    EXPECT_TRUE(twice.err.contains("already given to employee 0007")) << text(twice);
    const ToolRun noCard = TestSupport::runKqdb({"cards", "remove", db(), "B00123"});
    EXPECT_EQ(noCard.exitCode, 1) << text(noCard);
    const ToolRun nobody = TestSupport::runKqdb({"cards", "add", db(), "0000000043", "0099"});
    EXPECT_EQ(nobody.exitCode, 1) << text(nobody);
    EXPECT_EQ(cards(), QStringList({"0000000042>0020", "0012345678>0007", "0099000001>0015"}));

    // --replace makes the file the whole list; the blank lines a spreadsheet leaves at the
    // end are no rows.
    const ToolRun replaced = importCsv("card,num\r\n7777,0001\r\n\r\n\r\n", {QStringLiteral("--replace")});
    ASSERT_EQ(replaced.exitCode, 0) << text(replaced);
    EXPECT_EQ(cards(), QStringList({"7777>0001"}));
}

// Every refusal names the line and what is wrong, and changes nothing.
TEST_F(CardsTool, RefusedImportsLeaveTheTableUnchanged)
{
    ASSERT_EQ(importCsv("card,num\n0012345678,0007\n").exitCode, 0);
    const QStringList before = cards();
    const struct
    {
        QByteArray csv;
        const char* said;
    } refused[] = {
        {"card,num\n1111,0001\n1111,0002\n", "cards.csv:3: card 1111 repeats line 2"},
        {"card,num\n1111,0001\n2222,0042\n", "cards.csv:3: num 0042 is no employee's number"},
        {"card,num\n1111,0001\n0012345678,0003\n",
         "cards.csv:3: card 0012345678 is already given to employee 0007"},
        {"card,num\n11\x01"
         "1,0001\n",
         "control character"},
        {"card,num\n\"1111 \",0001\n", "blanks before or after it"},
        {"card,num\n\"11 11\",0001\n", "a number is ASCII letters and digits"},
        {"card,num\n\xef\xbc\x91\xef\xbc\x92,0001\n", "a number is ASCII letters and digits"},
        {"card,num\n,0001\n", "card is empty"},
        {"card,num\n1111,\n", "num is empty"},
        {"card\n1111\n", "the header lacks the column num"},
        {"card,num,name\n1111,0001,x\n", "unknown column \"name\""},
        {"card,num\n1111,0001,x\n", "3 fields where the header has 2"},
        {"card,num\n1111,0001\n\n2222,0001\n", "cards.csv:3: 1 fields where the header has 2"},
        {"card,num\n" + QByteArray(40, '9') + ",0001\n", "the column holds 32"},
        {"", "the file is empty"},
    };
    for (const auto& one : refused) {
        const ToolRun run = importCsv(one.csv);
        EXPECT_EQ(run.exitCode, 1) << one.said << "\n" << text(run);
        EXPECT_TRUE(run.err.contains(one.said)) << one.said << "\n" << text(run);
        EXPECT_TRUE(run.err.contains("nothing imported")) << text(run);
        EXPECT_EQ(cards(), before) << one.said;
    }
}

// A database made before cards: export has nothing, and the first card given makes the table.
TEST_F(CardsTool, AFileFromBeforeCardsGetsItsTableWithTheFirstCard)
{
    TestSupport::SqliteFile(db()).exec(QStringLiteral("DROP TABLE card"));
    const ToolRun empty = TestSupport::runKqdb({"cards", "export", db()});
    EXPECT_EQ(empty.exitCode, 0) << text(empty);
    EXPECT_EQ(empty.out, "card,num\r\n");
    const ToolRun added = TestSupport::runKqdb({"cards", "add", db(), "0012345678", "0007"});
    ASSERT_EQ(added.exitCode, 0) << text(added);
    EXPECT_EQ(cards(), QStringList({"0012345678>0007"}));
}

} // namespace

namespace {

// On a server: the card table made with the schema, cards given by an administrator, a
// refused import changing nothing, and the terminals' role reading the cards and nothing
// more.
class CardsOnAServer : public ServerSuite
{
protected:
    static QString cards()
    {
        return psql(QStringLiteral("SELECT string_agg(card || '>' || num, ' ' ORDER BY card) FROM card"));
    }

    ToolRun importCsv(const QByteArray& csv)
    {
        const QString file = tempPath("cards.csv");
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(csv);
        out.close();
        return TestSupport::runKqdb({QStringLiteral("cards"), QStringLiteral("import"), conninfo(), file});
    }
};

TEST_F(CardsOnAServer, AdministratorGivesCardsTheTerminalRoleOnlyReadsThem)
{
    psql(QStringLiteral("DELETE FROM card"));
    const ToolRun imported = importCsv("card,num\n0012345678,0105\n0099000001,0203\n");
    ASSERT_EQ(imported.exitCode, 0) << text(imported);
    EXPECT_EQ(cards(), QStringLiteral("0012345678>0105 0099000001>0203"));

    const ToolRun refused = importCsv("card,num\n1111,0101\n1111,0102\n");
    EXPECT_EQ(refused.exitCode, 1) << text(refused);
    EXPECT_TRUE(refused.err.contains("card 1111 repeats line 2")) << text(refused);
    EXPECT_EQ(cards(), QStringLiteral("0012345678>0105 0099000001>0203"));

    AdoConnection terminal;
    terminal.setConnectionString(
        ConnectionString::forServer(server().conninfo(QStringLiteral("kq"), DevSchema::kTerminalRole)));
    AdoQuery read(QStringLiteral("CardQry"));
    read.setConnection(&terminal);
    read.sqlAdd(Statements::kCardHolders);
    read.open();
    EXPECT_EQ(read.recordCount(), 2);
    read.close();
    AdoQuery write(QStringLiteral("CardQry"));
    write.setConnection(&terminal);
    write.sqlAdd(QStringLiteral("INSERT INTO card (card, num) VALUES ('2222', '0101')"));
    EXPECT_THROW(write.execSql(), DatabaseError);
    EXPECT_EQ(cards(), QStringLiteral("0012345678>0105 0099000001>0203"));
    psql(QStringLiteral("DELETE FROM card"));
}

} // namespace
