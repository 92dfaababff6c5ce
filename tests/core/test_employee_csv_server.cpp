// kqdb import-employees and kqdb export against a server database: the same CSV in, the
// same bytes out, and a refused file changes nothing there either. A throwaway PostgreSQL
// server on a Unix socket in a temporary folder.

#include "support/PgTestServer.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <thread>

#include <gtest/gtest.h>

namespace {

class EmployeeCsvServerTest : public ::testing::Test
{
protected:
    TestSupport::ToolRun kqdb(const QStringList& args) { return TestSupport::runKqdb(args, 120000); }

    TestSupport::ToolRun import(const QByteArray& csv, const QStringList& options = {})
    {
        const QString path = m_dir.filePath(QStringLiteral("list%1.csv").arg(++m_files));
        TestSupport::writeFile(path, csv);
        return kqdb(QStringList{QStringLiteral("import-employees"), m_target, path} + options);
    }

    // The employee list by number, one "num|name|dept_no" per line, NULL as "-".
    QString list() const
    {
        return m_server.psql(QStringLiteral("SELECT string_agg(num || '|' || coalesce(name, '-') || '|' || "
                                            "coalesce(dept_no, '-'), E'\\n' ORDER BY num) FROM employ"));
    }

    PgTestServer m_server;
    QString m_target = m_server.conninfo();
    QTemporaryDir m_dir;
    int m_files = 0;
};

TEST_F(EmployeeCsvServerTest, RoundTripFromCsvThroughSwipesToCsv)
{
    TestSupport::ToolRun run = kqdb({QStringLiteral("create"), m_target});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();

    run = import("dept_no,num,name\r\n"
                 "01,0101,张伟\r\n"
                 "01,0102,\"Li, Ming\"\r\n"
                 "02,0103,\"say \"\"hi\"\"\"\r\n"
                 "02,0104,back\\slash\\N\r\n"
                 ",0105,=1+2\r\n");
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, "imported 5 employees\n");
    // Read back past the tool: COPY's escapes did not reach the rows, and an empty
    // dept_no is empty, not NULL.
    EXPECT_EQ(list(), QString::fromUtf8("0101|张伟|01\n0102|Li, Ming|01\n0103|say \"hi\"|02\n"
                                        "0104|back\\slash\\N|02\n0105|=1+2|"));

    const char* const swipes[][2] = {{"0104", "2026-12-07 08:52:11"},
                                     {"0103", "2026-12-07 08:52:11"},
                                     {"0102", "2026-12-07 23:59:59"},
                                     {"0101", "2026-12-08 00:00:00"},
                                     {"0105", "2026-12-08 00:00:01"}};
    for (const auto& swipe : swipes) {
        run = kqdb({QStringLiteral("swipe"), m_target, QString::fromLatin1(swipe[0]), QStringLiteral("--now"),
                    QString::fromLatin1(swipe[1])});
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    }
    // Records the management software wrote: line breaks, a TAB, a NULL name.
    m_server.psql(
        QStringLiteral("INSERT INTO sgdjb (num, name, d, t, opdate) VALUES "
                       "('0106', E'two\\r\\nlines\\tand tab', '2026-12-08', '00:00:02', '1999-01-01'), "
                       "('0107', NULL, '2026-12-08', '00:00:03', '1999-01-01')"));

    run = kqdb({QStringLiteral("export"), m_target});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out.toStdString(), "num,name,date,time\r\n"
                                     "0103,\"say \"\"hi\"\"\",2026-12-07,08:52:11\r\n"
                                     "0104,back\\slash\\N,2026-12-07,08:52:11\r\n"
                                     "0102,\"Li, Ming\",2026-12-07,23:59:59\r\n"
                                     "0101,张伟,2026-12-08,00:00:00\r\n"
                                     "0105,'=1+2,2026-12-08,00:00:01\r\n"
                                     "0106,\"two\r\nlines\tand tab\",2026-12-08,00:00:02\r\n"
                                     "0107,,2026-12-08,00:00:03\r\n");

    run = kqdb({QStringLiteral("export"), m_target, QStringLiteral("--to"), QStringLiteral("2026-12-07"),
                QStringLiteral("--from"), QStringLiteral("2026-12-07"), QStringLiteral("--num"),
                QStringLiteral("0102")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out.toStdString(), "num,name,date,time\r\n0102,\"Li, Ming\",2026-12-07,23:59:59\r\n");

    run = kqdb({QStringLiteral("export"), m_target, QStringLiteral("--num"), QStringLiteral("0101"),
                QStringLiteral("--encoding"), QStringLiteral("gbk")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, QByteArray("num,name,date,time\r\n0101,\xD5\xC5\xCE\xB0,2026-12-08,00:00:00\r\n"));

    // GBK refuses what it lacks here too, naming the record, and replaces on request.
    m_server.psql(QStringLiteral("INSERT INTO sgdjb (num, name, d, t, opdate) VALUES "
                                 "('0108', 'Zoë', '2026-12-09', '00:00:00', '1999-01-01')"));
    run = kqdb({QStringLiteral("export"), m_target, QStringLiteral("--encoding"), QStringLiteral("gbk"),
                QStringLiteral("--from"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("record 1 (num \"0108\", name \"Zoë\"): name holds U+00EB"))
        << run.err.constData();
    EXPECT_EQ(run.out, "num,name,date,time\r\n");
    run = kqdb({QStringLiteral("export"), m_target, QStringLiteral("--encoding"), QStringLiteral("gbk"),
                QStringLiteral("--from"), QStringLiteral("2026-12-09"),
                QStringLiteral("--replace-unmappable")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "num,name,date,time\r\n0108,Zo?,2026-12-09,00:00:00\r\n");
    EXPECT_TRUE(run.err.contains("wrote \"?\" for 1 characters GBK lacks")) << run.err.constData();
}

TEST_F(EmployeeCsvServerTest, BulkImportAndExportCountTheSameAsTheServer)
{
    ASSERT_EQ(kqdb({QStringLiteral("create"), m_target, QStringLiteral("--demo")}).exitCode, 0);
    // Enough rows that COPY sends many pieces.
    QByteArray csv = "num,name,dept_no\n";
    for (int i = 1; i <= 60000; ++i)
        csv += "E" + QByteArray::number(100000 + i) + ",名字" + QByteArray::number(i) + ",0" +
               QByteArray::number(i % 9) + '\n';
    TestSupport::ToolRun run = import(csv, {QStringLiteral("--replace")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, "imported 60000 employees, replacing 36\n");
    EXPECT_EQ(m_server
                  .psql(QStringLiteral("SELECT count(*), count(DISTINCT num), min(num), max(num), "
                                       "sum(length(name)) FROM employ"))
                  .toStdString(),
              "60000|60000|E100001|E160000|408894");

    // 150,000 records over a few days, read back in order; counted by the server.
    m_server.psql(
        QStringLiteral("INSERT INTO sgdjb (num, name, d, t, opdate) SELECT 'E' || (100001 + i % 60000), "
                       "'名字' || i, date '2026-12-01' + i / 50000, time '00:00:00' + (i % 50000) * "
                       "interval '1 second', date '1999-01-01' FROM generate_series(0, 149999) i"));
    run = kqdb({QStringLiteral("export"), m_target});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    const QList<QByteArray> lines = run.out.split('\n');
    ASSERT_EQ(lines.size(), 150002); // header, the records, and the empty rest after the last line end
    EXPECT_EQ(lines[1], "E100001,名字0,2026-12-01,00:00:00\r");
    EXPECT_EQ(lines[150000], "E130000,名字149999,2026-12-03,13:53:19\r");
    run = kqdb({QStringLiteral("export"), m_target, QStringLiteral("--from"), QStringLiteral("2026-12-02"),
                QStringLiteral("--to"), QStringLiteral("2026-12-02")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(QString::number(run.out.count('\n') - 1),
              m_server.psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE d = '2026-12-02'")));
}

TEST_F(EmployeeCsvServerTest, ARefusedFileChangesNothingAndReplaceReplaces)
{
    ASSERT_EQ(kqdb({QStringLiteral("create"), m_target, QStringLiteral("--demo")}).exitCode, 0);
    const QString before = list();
    ASSERT_FALSE(before.isEmpty());

    TestSupport::ToolRun run =
        import("num,name\n9001,new\n9002,一二三四五六七八九十一\n", {QStringLiteral("--replace")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(":3: employ row 2, column name ")) << run.err.constData();
    EXPECT_EQ(list(), before);

    run = import("num,name\n9001,new\n0101,again\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(":3: num 0101 is already in the list")) << run.err.constData();
    EXPECT_EQ(list(), before);

    run = import("num,name\n9001,new\n0101,again\n", {QStringLiteral("--new-only")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(list().endsWith(QStringLiteral("\n9001|new|-")));

    run = import("num,name,dept_no\n0001,王芳,01\n", {QStringLiteral("--replace")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(list(), QString::fromUtf8("0001|王芳|01"));
}

TEST_F(EmployeeCsvServerTest, TwoImportsAtOnceCannotBothAddANumber)
{
    ASSERT_EQ(kqdb({QStringLiteral("create"), m_target}).exitCode, 0);
    // Large enough that the two imports overlap: each checks the list, then writes for a while.
    QByteArray csv = "num,name\n";
    for (int i = 1; i <= 20000; ++i)
        csv += QByteArray::number(100000 + i) + ",n" + QByteArray::number(i) + '\n';
    const QString path = m_dir.filePath(QStringLiteral("many.csv"));
    TestSupport::writeFile(path, csv);

    TestSupport::ToolRun first, second;
    const QStringList args{QStringLiteral("import-employees"), m_target, path};
    std::thread a([&] { first = kqdb(args); });
    std::thread b([&] { second = kqdb(args); });
    a.join();
    b.join();

    EXPECT_EQ(m_server.psql(QStringLiteral("SELECT count(*), count(DISTINCT num) FROM employ")).toStdString(),
              "20000|20000");
    // One of them imported; the other found the numbers there and changed nothing.
    EXPECT_EQ(first.exitCode + second.exitCode, 1) << first.err.constData() << second.err.constData();
    const QByteArray refusal = first.exitCode == 1 ? first.err : second.err;
    EXPECT_TRUE(refusal.contains("is already in the list")) << refusal.constData();
}

} // namespace
