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
                 "02,0104,\"two\r\nlines\"\r\n");
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, "imported 4 employees\n");
    EXPECT_EQ(list(),
              QString::fromUtf8("0101|张伟|01\n0102|Li, Ming|01\n0103|say \"hi\"|02\n0104|two\r\nlines|02"));

    const char* const swipes[][2] = {{"0104", "2026-12-07 08:52:11"},
                                     {"0103", "2026-12-07 08:52:11"},
                                     {"0102", "2026-12-07 23:59:59"},
                                     {"0101", "2026-12-08 00:00:00"}};
    for (const auto& swipe : swipes) {
        run = kqdb({QStringLiteral("swipe"), m_target, QString::fromLatin1(swipe[0]), QStringLiteral("--now"),
                    QString::fromLatin1(swipe[1])});
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    }

    run = kqdb({QStringLiteral("export"), m_target});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out.toStdString(), "num,name,date,time\r\n"
                                     "0103,\"say \"\"hi\"\"\",2026-12-07,08:52:11\r\n"
                                     "0104,\"two\r\nlines\",2026-12-07,08:52:11\r\n"
                                     "0102,\"Li, Ming\",2026-12-07,23:59:59\r\n"
                                     "0101,张伟,2026-12-08,00:00:00\r\n");

    run = kqdb({QStringLiteral("export"), m_target, QStringLiteral("--to"), QStringLiteral("2026-12-07"),
                QStringLiteral("--from"), QStringLiteral("2026-12-07"), QStringLiteral("--num"),
                QStringLiteral("0102")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out.toStdString(), "num,name,date,time\r\n0102,\"Li, Ming\",2026-12-07,23:59:59\r\n");

    run = kqdb({QStringLiteral("export"), m_target, QStringLiteral("--num"), QStringLiteral("0101"),
                QStringLiteral("--encoding"), QStringLiteral("gbk")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, QByteArray("num,name,date,time\r\n0101,\xD5\xC5\xCE\xB0,2026-12-08,00:00:00\r\n"));
}

TEST_F(EmployeeCsvServerTest, ARefusedFileChangesNothingAndReplaceReplaces)
{
    ASSERT_EQ(kqdb({QStringLiteral("create"), m_target, QStringLiteral("--demo")}).exitCode, 0);
    const QString before = list();
    ASSERT_FALSE(before.isEmpty());

    TestSupport::ToolRun run =
        import("num,name\n9001,new\n9002,一二三四五六七八九十一\n", {QStringLiteral("--replace")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(":3: name ")) << run.err.constData();
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
