// kqdb import-employees and kqdb export, run as the administrator runs them: a real kqdb
// process against a database file, with the rows checked in the file and the bytes on
// standard output and standard error.

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using KqdbRun = TestSupport::ToolRun;

KqdbRun kqdb(const QStringList& args)
{
    return TestSupport::runKqdb(args, 120000);
}

class EmployeeCsvTest : public ::testing::Test
{
protected:
    QString csvFile(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("list%1.csv").arg(++m_files));
        TestSupport::writeFile(path, bytes);
        return path;
    }

    KqdbRun import(const QByteArray& csv, const QStringList& options = {})
    {
        return kqdb(QStringList{QStringLiteral("import-employees"), m_db.path(), csvFile(csv)} + options);
    }

    KqdbRun exportCsv(const QStringList& options = {})
    {
        return kqdb(QStringList{QStringLiteral("export"), m_db.path()} + options);
    }

    // The employee list in table order, one "num|name|dept_no" per line, NULL as "-".
    QString list() const
    {
        return m_db.text(QStringLiteral("SELECT ifnull(group_concat(r, char(10)), '') FROM (SELECT num || "
                                        "'|' || ifnull(name, '-') || '|' || "
                                        "ifnull(dept_no, '-') AS r FROM employ ORDER BY rowid)"));
    }

    void record(const char* num, const char* name, const char* instant) const
    {
        const qint64 seconds = TestSupport::wallSeconds(QString::fromLatin1(instant));
        const qint64 midnight = seconds - seconds % 86400;
        m_db.exec(
            QStringLiteral("INSERT INTO sgdjb (num, name, D, T, opdate) VALUES ('%1', '%2', %3, %4, %5)")
                .arg(QString::fromUtf8(num), QString::fromUtf8(name), QString::number(midnight),
                     QString::number(seconds - midnight),
                     QString::number(TestSupport::wallSeconds(QStringLiteral("1999-01-01 00:00:00")))));
    }

    TestSupport::DevDatabase m_db;
    QTemporaryDir m_dir;
    int m_files = 0;
};

TEST_F(EmployeeCsvTest, NamesSurviveTheRoundTripFromCsvThroughSwipesToCsv)
{
    const QByteArray csv = "name,dept_no,num\r\n"
                           "张伟,01,0101\r\n"
                           "\"Li, Ming\",01,0102\r\n"
                           "\"say \"\"hi\"\"\",02,0103\r\n"
                           "back\\slash,02,0104\r\n"
                           "O'Neil,,0105\r\n"
                           "欧阳娜娜,03,0106\r\n";
    const KqdbRun imported = import(csv);
    ASSERT_EQ(imported.exitCode, 0) << imported.err.constData();
    EXPECT_EQ(imported.out, "imported 6 employees\n");
    EXPECT_EQ(list(), QString::fromUtf8("0101|张伟|01\n0102|Li, Ming|01\n0103|say \"hi\"|02\n"
                                        "0104|back\\slash|02\n0105|O'Neil|\n0106|欧阳娜娜|03"));

    // Each employee swipes through the terminal's own path, later numbers first and two at
    // one and the same second, so that the order of the export is the instant, then the
    // number.
    const char* const swipes[][2] = {{"0106", "2026-12-07 08:00:00"}, {"0105", "2026-12-07 08:52:11"},
                                     {"0104", "2026-12-07 08:52:11"}, {"0103", "2026-12-07 09:15:00"},
                                     {"0102", "2026-12-08 07:59:59"}, {"0101", "2026-12-08 08:00:00"}};
    for (const auto& swipe : swipes) {
        const KqdbRun run = kqdb({QStringLiteral("swipe"), m_db.path(), QString::fromLatin1(swipe[0]),
                                  QStringLiteral("--now"), QString::fromLatin1(swipe[1])});
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    }
    // Records the management software wrote, with line breaks the import would refuse.
    record("0107", "two\r\nlines", "2026-12-08 09:00:00");
    record("0108", "lf\nonly", "2026-12-08 09:00:00");

    const KqdbRun exported = exportCsv();
    ASSERT_EQ(exported.exitCode, 0) << exported.err.constData();
    EXPECT_EQ(exported.out.toStdString(), "num,name,date,time\r\n"
                                          "0106,欧阳娜娜,2026-12-07,08:00:00\r\n"
                                          "0104,back\\slash,2026-12-07,08:52:11\r\n"
                                          "0105,O'Neil,2026-12-07,08:52:11\r\n"
                                          "0103,\"say \"\"hi\"\"\",2026-12-07,09:15:00\r\n"
                                          "0102,\"Li, Ming\",2026-12-08,07:59:59\r\n"
                                          "0101,张伟,2026-12-08,08:00:00\r\n"
                                          "0107,\"two\r\nlines\",2026-12-08,09:00:00\r\n"
                                          "0108,\"lf\nonly\",2026-12-08,09:00:00\r\n");
    EXPECT_TRUE(exported.err.isEmpty());
}

TEST_F(EmployeeCsvTest, ARefusedFileNamesLineAndReasonAndChangesNothing)
{
    ASSERT_EQ(import("num,name,dept_no\n0001,王芳,01\n0002,李娜,01\n").exitCode, 0);
    const QString before = list();
    const QByteArray fileBefore = TestSupport::fileBytes(m_db.path());

    // Good rows before the fault are not written either.
    const struct
    {
        QByteArray csv;
        QStringList options;
        const char* where;
        const char* reason;
    } cases[] = {
        {"num,name\n1001,a\n1002,b\"c\n", {}, ":3: ", "quote inside field 2"},
        {"num,name\n1001,a\n,nobody\n", {}, ":3: ", "num is empty"},
        {"num,name\n1001,一二三四五六七八九十一\n",
         {},
         ":2: ",
         "is 22 bytes long in GBK; the column holds 20"},
        {"num,name\n12345678901,a\n", {}, ":2: ", "the column holds 10"},
        {"num,name,dept_no\n1001,a,12345678901\n", {}, ":2: ", "dept_no"},
        {"num,name\n1001,a\n1001,b\n", {}, ":3: ", "num 1001 repeats line 2"},
        // The number box finds numbers without regard to case: two that differ only in
        // case would be one employee to it.
        {"num,name\nA1,a\n1002,b\na1,c\n", {}, ":4: ", "num a1 differs only in case from num A1 on line 2"},
        // A blank line is only allowed at the end.
        {"num,name\n1001,a\n\n1002,b\n", {}, ":3: ", "1 fields where the header has 2"},
        {"num,name\n1001,a\n0002,b\n", {}, ":3: ", "num 0002 is already in the list"},
        {"num,name\n1001,a,x\n", {}, ":2: ", "3 fields where the header has 2"},
        {"num,name,phone\n1001,a,1\n", {}, ":1: ", "unknown column \"phone\""},
        {"name,dept_no\na,01\n", {}, ":1: ", "lacks the column num"},
        {"num,name\n1001,\xe4\xb8\n", {}, ":2: ", "not UTF-8"},
        {"num,name\n1001,\"open\n", {QStringLiteral("--replace")}, ":2: ", "not closed"},
        {"num,name\n1001,a\n1002,emoji \xf0\x9f\x98\x80\n",
         {QStringLiteral("--new-only")},
         ":3: ",
         "character the GBK code page lacks (U+1F600)"},
        {"", {}, ": ", "no header"},
        // Control characters, in any column, spelled out rather than echoed.
        {QByteArray("num,name\n1001,a\0b\n", 17),
         {},
         ":2: ",
         "name \"a\\x00b\" holds the control character U+0000 at character 2"},
        {"num,name\n1001,\x1b[2Jwiped\n",
         {},
         ":2: ",
         "name \"\\x1B[2Jwiped\" holds the control character U+001B"},
        {"num,name\n1001,\"two\nlines\"\n", {}, ":2: ", "control character U+000A"},
        {"num,name\n1001,\"cr\r\"\n", {}, ":2: ", "control character U+000D"},
        {"num,name\n1001,tab\there\n", {}, ":2: ", "control character U+0009"},
        {"num,name\n1001,c1\xc2\x85\n", {}, ":2: ", "control character U+0085"},
        {"num,name\n1001,\xe2\x80\xae"
         "evil\n",
         {},
         ":2: ",
         "control character U+202E"},
        {"num,name,dept_no\n1001,a,0\x07\n",
         {},
         ":2: ",
         "dept_no \"0\\x07\" holds the control character U+0007"},
        // Numbers the number box cannot type or find.
        {"num,name\n 9001,a\n", {}, ":2: ", "num \" 9001\" has blanks before or after it"},
        {"num,name\n9001 ,a\n", {}, ":2: ", "num \"9001 \" has blanks before or after it"},
        {"num,name\n\xe3\x80\x80"
         "9001,a\n",
         {},
         ":2: ",
         "has blanks before or after it"},
        {"num,name\n\xef\xbc\x99\xef\xbc\x90\xef\xbc\x90\xef\xbc\x91,a\n",
         {},
         ":2: ",
         "holds \"９\" (U+FF19) at character 1; a number is ASCII letters and digits"},
        {"num,name\n90\xef\xbc\x8d"
         "01,a\n",
         {},
         ":2: ",
         "holds \"\xef\xbc\x8d\" (U+FF0D) at character 3"},
        {"num,name\n90 01,a\n", {}, ":2: ", "holds \" \" (U+0020) at character 3"},
    };
    for (const auto& c : cases) {
        const KqdbRun run = import(c.csv, c.options);
        EXPECT_EQ(run.exitCode, 1) << c.csv.constData();
        const QString err = QString::fromUtf8(run.err);
        EXPECT_TRUE(err.contains(QString::fromUtf8(c.where)) && err.contains(QString::fromUtf8(c.reason)) &&
                    err.endsWith(QStringLiteral("; nothing imported\n")))
            << c.csv.constData() << " -> " << run.err.constData();
        // Nothing raw reaches the terminal that shows the message.
        EXPECT_FALSE(run.err.contains('\x1b') || run.err.contains('\0') || run.err.contains('\x07'));
        EXPECT_EQ(list(), before) << c.csv.constData();
        EXPECT_EQ(TestSupport::fileBytes(m_db.path()), fileBefore) << c.csv.constData();
    }
}

// Spreadsheets and editors end a file with a blank line, or with CR LF and a blank line.
TEST_F(EmployeeCsvTest, BlankLinesAtTheEndAreNoRows)
{
    KqdbRun run = import("num,name\n1001,a\n\n");
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    run = import("num,name\r\n1002,b\r\n\r\n\r\n", {QStringLiteral("--new-only")});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(list(), QStringLiteral("1001|a|-\n1002|b|-"));
}

// A number already listed in another case is refused rather than skipped or added.
TEST_F(EmployeeCsvTest, ANumberListedInAnotherCaseIsRefused)
{
    ASSERT_EQ(import("num,name\nAB01,a\n").exitCode, 0);
    for (const QStringList& options : {QStringList(), QStringList{QStringLiteral("--new-only")}}) {
        const KqdbRun run = import("num,name\nab01,b\n", options);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains(":2: num ab01 differs only in case from num AB01 already in the list"))
            << run.err.constData();
    }
    EXPECT_EQ(import("num,name\nab01,b\n", {QStringLiteral("--replace")}).exitCode, 0);
    EXPECT_EQ(list(), QStringLiteral("ab01|b|-"));
}

// Past its memory bound the export's spool goes to $TMPDIR, where the user keeps room for
// such files, not to /tmp: a folder that is not there shows in the refusal.
TEST_F(EmployeeCsvTest, TheExportSpoolsIntoTmpdir)
{
    m_db.exec(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
                       "INSERT INTO sgdjb SELECT printf('%04d', i % 50), 'Worker', 1796601600, i % 86400, "
                       "915148800 FROM n"));
    const QByteArray saved = qgetenv("TMPDIR");
    const QString missing = m_dir.filePath(QStringLiteral("no-such-folder"));
    qputenv("TMPDIR", QFile::encodeName(missing));
    const KqdbRun refused = exportCsv();
    qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    const KqdbRun spooled = exportCsv();
    if (saved.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(QFile::encodeName(missing))) << refused.err.constData();
    EXPECT_EQ(spooled.exitCode, 0) << spooled.err.constData();
    EXPECT_EQ(spooled.out.count('\n'), 200001);
    EXPECT_GT(spooled.out.size(), 4 * 1024 * 1024);
}

TEST_F(EmployeeCsvTest, WhatIsNotAnEmployeeListIsRefusedAtOnceAndQuotedByItsStartOnly)
{
    ASSERT_EQ(import("num,name\n0001,王芳\n").exitCode, 0);
    const QByteArray fileBefore = TestSupport::fileBytes(m_db.path());

    // A 50 MB field: refused by its size, and the message shows its first characters only.
    const KqdbRun huge = import("num,name\n1001," + QByteArray(50'000'000, 'x') + "\n");
    EXPECT_EQ(huge.exitCode, 1);
    EXPECT_TRUE(huge.err.contains(":2: field 2 is 50000000 bytes long, more than the 4096 a field may hold; "
                                  "it begins \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\"..."))
        << huge.err.left(300).constData();
    EXPECT_LT(huge.err.size(), 400);

    // A field just within the bound is read (and then refused by the column's width).
    const KqdbRun wide = import("num,name\n1001," + QByteArray(4096, 'y') + "\n");
    EXPECT_TRUE(wide.err.contains("is 4096 bytes long in GBK; the column holds 20")) << wide.err.constData();
    EXPECT_LT(wide.err.size(), 400);

    // Not a regular file: a device that never ends, a FIFO no one writes to, a folder.
    // Each is refused at once (a FIFO would otherwise block for ever).
    const QString fifo = m_dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& source : {QStringLiteral("/dev/zero"), fifo, m_dir.path()}) {
        QElapsedTimer timer;
        timer.start();
        const KqdbRun run =
            TestSupport::runKqdb({QStringLiteral("import-employees"), m_db.path(), source}, 20000);
        EXPECT_EQ(run.exitCode, 1) << source.toStdString();
        EXPECT_TRUE(run.err.contains("not a regular file") || run.err.contains("a folder, not a CSV file"))
            << run.err.constData();
        EXPECT_LT(timer.elapsed(), 10000) << source.toStdString();
    }

    // A file past the bound is refused by its size, before it is read. A sparse file
    // takes no disk space.
    const QString big = m_dir.filePath(QStringLiteral("big.csv"));
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("num,name\n");
        ASSERT_TRUE(file.resize(qint64(256) * 1024 * 1024 + 1));
    }
    const KqdbRun tooBig =
        TestSupport::runKqdb({QStringLiteral("import-employees"), m_db.path(), big}, 20000);
    EXPECT_EQ(tooBig.exitCode, 1);
    EXPECT_TRUE(tooBig.err.contains("268435457 bytes, more than the 256 MiB an employee list may take"))
        << tooBig.err.constData();
    EXPECT_EQ(TestSupport::fileBytes(m_db.path()), fileBefore);
}

TEST_F(EmployeeCsvTest, FormulaLikeNamesAreWrittenAsTextUnlessRaw)
{
    record("0101", "=HYPERLINK(\"http://x\",\"y\")", "2026-12-07 08:00:00");
    record("0102", "+1", "2026-12-07 08:00:01");
    record("0103", "-2", "2026-12-07 08:00:02");
    record("0104", "@SUM(A1)", "2026-12-07 08:00:03");
    record("0105", "\tlead", "2026-12-07 08:00:04");
    record("0106", "\rlead", "2026-12-07 08:00:05");
    record("0107", "a=b-c", "2026-12-07 08:00:06");
    record("-108", "张伟", "2026-12-07 08:00:07");

    // As a spreadsheet reads it: a cell starting with an apostrophe is text, the
    // apostrophe not shown; quoting is as usual around it.
    KqdbRun run = exportCsv();
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out.toStdString(),
              "num,name,date,time\r\n"
              "0101,\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",2026-12-07,08:00:00\r\n"
              "0102,'+1,2026-12-07,08:00:01\r\n"
              "0103,'-2,2026-12-07,08:00:02\r\n"
              "0104,'@SUM(A1),2026-12-07,08:00:03\r\n"
              "0105,'\tlead,2026-12-07,08:00:04\r\n"
              "0106,\"'\rlead\",2026-12-07,08:00:05\r\n"
              "0107,a=b-c,2026-12-07,08:00:06\r\n"
              "'-108,张伟,2026-12-07,08:00:07\r\n");

    // GBK the same.
    run = exportCsv({QStringLiteral("--encoding"), QStringLiteral("gbk"), QStringLiteral("--num"),
                     QStringLiteral("-108")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, QByteArray("num,name,date,time\r\n'-108,\xD5\xC5\xCE\xB0,2026-12-07,08:00:07\r\n"));

    // --raw: the values as they are, for programs that read the file as data.
    run = exportCsv({QStringLiteral("--raw")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out.toStdString(), "num,name,date,time\r\n"
                                     "0101,\"=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",2026-12-07,08:00:00\r\n"
                                     "0102,+1,2026-12-07,08:00:01\r\n"
                                     "0103,-2,2026-12-07,08:00:02\r\n"
                                     "0104,@SUM(A1),2026-12-07,08:00:03\r\n"
                                     "0105,\tlead,2026-12-07,08:00:04\r\n"
                                     "0106,\"\rlead\",2026-12-07,08:00:05\r\n"
                                     "0107,a=b-c,2026-12-07,08:00:06\r\n"
                                     "-108,张伟,2026-12-07,08:00:07\r\n");
}

TEST_F(EmployeeCsvTest, GbkExportRefusesACharacterItLacksUnlessAskedToReplace)
{
    record("0101", "张伟", "2026-12-07 08:00:00");
    record("0102", "Zoë", "2026-12-07 08:00:01");
    record("0103", "😀 and Zoë", "2026-12-07 08:00:02");

    KqdbRun run = exportCsv({QStringLiteral("--encoding"), QStringLiteral("gbk")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.toStdString(),
              "kqdb: record 2 (num \"0102\", name \"Zoë\"): name holds U+00EB, a character GBK lacks; "
              "--replace-unmappable writes \"?\" for such characters; the export stopped there, after 1 "
              "records: the output is incomplete\n");
    // The output ends at a whole record.
    EXPECT_EQ(run.out, QByteArray("num,name,date,time\r\n0101,\xD5\xC5\xCE\xB0,2026-12-07,08:00:00\r\n"));

    run = exportCsv(
        {QStringLiteral("--encoding"), QStringLiteral("gbk"), QStringLiteral("--replace-unmappable")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, QByteArray("num,name,date,time\r\n"
                                  "0101,\xD5\xC5\xCE\xB0,2026-12-07,08:00:00\r\n"
                                  "0102,Zo?,2026-12-07,08:00:01\r\n"
                                  "0103,? and Zo?,2026-12-07,08:00:02\r\n"));
    EXPECT_EQ(run.err.toStdString(), "kqdb: wrote \"?\" for 3 characters GBK lacks (--replace-unmappable)\n");

    // UTF-8 holds them all.
    run = exportCsv();
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("0103,😀 and Zoë,"));
    EXPECT_EQ(exportCsv({QStringLiteral("--replace-unmappable")}).exitCode, 2);
}

TEST_F(EmployeeCsvTest, WidthsCountGbkBytesSoTenChineseCharactersFitTwenty)
{
    const KqdbRun run = import("num,name\n1234567890,一二三四五六七八九十\n");
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(list(), QString::fromUtf8("1234567890|一二三四五六七八九十|-"));
}

// A character the GBK code page lacks is refused wherever it stands in a value: as its first
// character as much as in its middle or at its end, in the name as in the department.
TEST_F(EmployeeCsvTest, ACharacterGbkLacksIsRefusedFirstMiddleOrLast)
{
    const QByteArray emoji = "\xf0\x9f\x98\x80";
    for (const QByteArray& csv : {"num,name\n1001," + emoji + "abc\n", "num,name\n1001,a" + emoji + "bc\n",
                                  "num,name\n1001,abc" + emoji + "\n", "num,name\n1001," + emoji + "\n",
                                  "num,name,dept_no\n1001,a," + emoji + "1\n"}) {
        const KqdbRun run = import(csv);
        EXPECT_EQ(run.exitCode, 1) << csv.constData();
        EXPECT_TRUE(run.err.contains("U+1F600")) << run.err.constData();
        EXPECT_EQ(list(), QString()) << csv.constData();
    }
}

TEST_F(EmployeeCsvTest, NewOnlyAddsTheRestAndReplaceMakesTheFileTheList)
{
    ASSERT_EQ(import("num,name,dept_no\n0001,王芳,01\n0002,李娜,01\n").exitCode, 0);

    KqdbRun run = import("num,name,dept_no\n0002,renamed,09\n0003,刘洋,02\n", {QStringLiteral("--new-only")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, "imported 1 employees, skipped 1 already in the list\n");
    EXPECT_EQ(list(), QString::fromUtf8("0001|王芳|01\n0002|李娜|01\n0003|刘洋|02"));

    run = import("num,name\n0003,刘洋\n0009,陈静\n", {QStringLiteral("--replace")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out, "imported 2 employees, replacing 3\n");
    EXPECT_EQ(list(), QString::fromUtf8("0003|刘洋|-\n0009|陈静|-"));

    EXPECT_EQ(import("num,name\n", {QStringLiteral("--new-only"), QStringLiteral("--replace")}).exitCode, 2);
}

TEST_F(EmployeeCsvTest, ExportSelectsDatesInclusiveAndOneNumber)
{
    record("0101", "张伟", "2026-12-06 23:59:59");
    record("0101", "张伟", "2026-12-07 00:00:00");
    record("0102", "王芳", "2026-12-08 12:00:00");
    record("0101", "张伟", "2026-12-08 23:59:59");
    record("0101", "张伟", "2026-12-09 00:00:00");

    KqdbRun run = exportCsv({QStringLiteral("--from"), QStringLiteral("2026-12-07"), QStringLiteral("--to"),
                             QStringLiteral("2026-12-08")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out.toStdString(), "num,name,date,time\r\n"
                                     "0101,张伟,2026-12-07,00:00:00\r\n"
                                     "0102,王芳,2026-12-08,12:00:00\r\n"
                                     "0101,张伟,2026-12-08,23:59:59\r\n");

    run = exportCsv({QStringLiteral("--num"), QStringLiteral("0101"), QStringLiteral("--from"),
                     QStringLiteral("2026-12-08")});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.toStdString(), "num,name,date,time\r\n"
                                     "0101,张伟,2026-12-08,23:59:59\r\n"
                                     "0101,张伟,2026-12-09,00:00:00\r\n");

    for (const QStringList& bad : {QStringList{QStringLiteral("--from"), QStringLiteral("2026-2-1")},
                                   QStringList{QStringLiteral("--to"), QStringLiteral("2026-02-30")},
                                   QStringList{QStringLiteral("--from"), QStringLiteral("2026-12-09"),
                                               QStringLiteral("--to"), QStringLiteral("2026-12-08")},
                                   QStringList{QStringLiteral("--encoding"), QStringLiteral("big5")}}) {
        run = exportCsv(bad);
        EXPECT_EQ(run.exitCode, 2) << bad.join(u' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    run = kqdb({QStringLiteral("export"), m_dir.filePath(QStringLiteral("missing.mdb"))});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("missing.mdb"))));
}

TEST_F(EmployeeCsvTest, GbkOutputByteForByte)
{
    record("0101", "张伟", "2026-12-07 08:52:11");
    record("0102", "\"引号\",逗号", "2026-12-07 08:53:00");
    const KqdbRun run = exportCsv({QStringLiteral("--encoding"), QStringLiteral("gbk")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out,
              QByteArray("num,name,date,time\r\n"
                         "0101,\xD5\xC5\xCE\xB0,2026-12-07,08:52:11\r\n"
                         "0102,\"\"\"\xD2\xFD\xBA\xC5\"\",\xB6\xBA\xBA\xC5\",2026-12-07,08:53:00\r\n"));
}

TEST_F(EmployeeCsvTest, ProgressBarOnlyOnATerminal)
{
    QByteArray csv = "num,name\n";
    for (int i = 0; i < 12000; ++i)
        csv += QByteArray::number(100000 + i) + ",n" + QByteArray::number(i) + "\n";
    const QString file = csvFile(csv);

    // To a pipe: nothing but the result.
    KqdbRun run = kqdb({QStringLiteral("import-employees"), m_db.path(), file});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.constData();
    // Read back past the tool.
    EXPECT_EQ(m_db.scalar(QStringLiteral("SELECT count(*) FROM employ")), 12000);
    EXPECT_EQ(m_db.scalar(QStringLiteral(
                  "SELECT count(DISTINCT num) FROM employ WHERE name = 'n' || (num - 100000)")),
              12000);

    // On a terminal (script(1) gives the command a pseudo-terminal): a bar that reaches
    // its end.
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    ASSERT_FALSE(script.isEmpty()) << "script(1) from util-linux is needed";
    const QString command = QStringLiteral("'%1' import-employees '%2' '%3' --replace")
                                .arg(QStringLiteral(TAVELO_BIN_DIR "/kqdb"), m_db.path(), file);
    QProcess process;
    process.start(script, {QStringLiteral("-qec"), command, QStringLiteral("/dev/null")});
    ASSERT_TRUE(process.waitForFinished(120000));
    const QByteArray screen = process.readAllStandardOutput();
    EXPECT_EQ(process.exitCode(), 0) << screen.constData();
    EXPECT_TRUE(screen.contains("\rimport [")) << screen.constData();
    EXPECT_TRUE(screen.contains("] 100% 12000/12000")) << screen.constData();
    EXPECT_TRUE(screen.contains("imported 12000 employees")) << screen.constData();

    // create --employees N and export likewise.
    const QString made = m_dir.filePath(QStringLiteral("made.mdb"));
    run = kqdb({QStringLiteral("create"), made, QStringLiteral("--employees"), QStringLiteral("20000")});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.constData();
    m_db.exec(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
                       "INSERT INTO sgdjb (num, name, D, T, opdate) SELECT '0101', 'x', %1, i, 0 FROM n")
            .arg(TestSupport::wallSeconds(QStringLiteral("2026-12-07 00:00:00"))));
    const QString kqdbPath = QStringLiteral(TAVELO_BIN_DIR "/kqdb");
    const QString onTerminal =
        QStringLiteral("'%1' create '%2' --employees 20000 && '%1' export '%3' >/dev/null")
            .arg(kqdbPath, m_dir.filePath(QStringLiteral("made2.mdb")), m_db.path());
    process.start(script, {QStringLiteral("-qec"), onTerminal, QStringLiteral("/dev/null")});
    ASSERT_TRUE(process.waitForFinished(120000));
    const QByteArray screen2 = process.readAllStandardOutput();
    EXPECT_EQ(process.exitCode(), 0) << screen2.constData();
    EXPECT_TRUE(screen2.contains("\rcreate [")) << screen2.constData();
    EXPECT_TRUE(screen2.contains("] 100% 20000/20000")) << screen2.constData();
    EXPECT_TRUE(screen2.contains("\rexport [")) << screen2.constData();
    EXPECT_TRUE(screen2.contains("] 100% 10000/10000")) << screen2.constData();

    // The same 10,000 records to a pipe: every one, in order of the instant.
    run = exportCsv();
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    const QList<QByteArray> lines = run.out.split('\n');
    ASSERT_EQ(lines.size(), 10002);
    EXPECT_EQ(lines[1], "0101,x,2026-12-07,00:00:01\r");
    EXPECT_EQ(lines[10000], "0101,x,2026-12-07,02:46:40\r");
}

} // namespace
