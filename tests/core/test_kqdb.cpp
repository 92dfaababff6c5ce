#include "db/DevSchema.h"
#include "db/Statements.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

int runKqdb(const QStringList& args)
{
    return TestSupport::runKqdb(args).exitCode;
}

// The file as another program reads it.
class Db : public TestSupport::SqliteFile
{
public:
    explicit Db(const QString& path) : SqliteFile(path, Mode::ReadOnly) {}
};

class KqdbTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir m_dir;
};

TEST_F(KqdbTest, DemoDatabaseHasTheSchemaAndRealisticEmployees)
{
    ASSERT_EQ(runKqdb({"create", path("kq.mdb"), "--demo"}), 0);
    const Db db(path("kq.mdb"));

    QStringList expectedSchema = DevSchema::ddl();
    for (QString& statement : expectedSchema)
        statement.chop(1); // the stored text has no ';'
    EXPECT_EQ(db.rows("SELECT sql FROM sqlite_master ORDER BY rowid"), expectedSchema);

    const QStringList employees = db.rows("SELECT num, name, dept_no FROM employ");
    EXPECT_GE(employees.size(), 24);
    EXPECT_LE(employees.size(), 60);
    const QRegularExpression form(QStringLiteral("^(\\d\\d)\\d\\d\\|\\p{Han}{2,3}\\|(\\d\\d)$"));
    QSet<QString> numbers;
    for (const QString& row : employees) {
        const auto match = form.match(row);
        ASSERT_TRUE(match.hasMatch()) << row.toStdString();
        EXPECT_EQ(match.captured(1), match.captured(2)) << row.toStdString();
        numbers.insert(row.section(u'|', 0, 0));
    }
    EXPECT_EQ(numbers.size(), employees.size());
    EXPECT_TRUE(numbers.contains(QStringLiteral("0101")));
}

TEST_F(KqdbTest, IndexServesTheDuplicateTest)
{
    ASSERT_EQ(runKqdb({"create", path("kq.mdb")}), 0);
    const Db db(path("kq.mdb"));
    EXPECT_TRUE(db.rows("SELECT * FROM employ").isEmpty());
    const QString plan = db.rows("EXPLAIN QUERY PLAN SELECT num,name,D,T, opdate FROM sgdjb WHERE num='0101' "
                                 "AND ((D+T)>1 AND (D+T)<2)")
                             .join(u'\n');
    EXPECT_TRUE(
        plan.contains(QStringLiteral("USING INDEX sgdjb_num_instant (num=? AND <expr>>? AND <expr><?)")))
        << plan.toStdString();
}

TEST_F(KqdbTest, GeneratedEmployeesAreZeroPaddedAndUnique)
{
    ASSERT_EQ(runKqdb({"create", path("big.mdb"), "--employees", "12000"}), 0);
    const Db db(path("big.mdb"));
    EXPECT_EQ(
        db.rows("SELECT count(*), count(DISTINCT num), min(num), max(num), count(DISTINCT name) FROM employ"),
        QStringList{QStringLiteral("12000|12000|00001|12000|12000")});
    EXPECT_EQ(
        db.rows("SELECT count(*) FROM employ WHERE length(num) <> 5 OR length(dept_no) <> 2 OR name = ''"),
        QStringList{QStringLiteral("0")});
}

TEST_F(KqdbTest, NeverOverwritesAFile)
{
    const QString existing = path("kq.mdb");
    {
        QFile file(existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("attendance data");
    }
    EXPECT_NE(runKqdb({"create", existing, "--demo"}), 0);
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "attendance data");
}

TEST_F(KqdbTest, BadArgumentsCreateNothing)
{
    EXPECT_EQ(runKqdb({}), 2);
    EXPECT_EQ(runKqdb({"create"}), 2);
    EXPECT_EQ(runKqdb({"create", path("a.mdb"), "--employees", "many"}), 2);
    EXPECT_EQ(runKqdb({"create", path("a.mdb"), "--demo", "--employees", "5"}), 2);
    EXPECT_NE(runKqdb({"create", path("no/such/folder/a.mdb")}), 0);
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty());
}

TEST_F(KqdbTest, ACreateThatFailsOnAFullDiskLeavesNothingBehind)
{
    // A file size limit stands in for a full disk: writes past it fail with EFBIG (the
    // signal that would otherwise end the process is ignored, and stays so across exec).
    // At each limit the failure comes at another point: the journal, the first pages, the
    // pages spilled from the cache in the middle, the commit.
    for (const int kilobytes : {4, 16, 64, 512, 2048}) {
        const TestSupport::ToolRun run = TestSupport::runProgram(
            QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" create \"$1\" --employees 100000")
                 .arg(kilobytes * 2), // sh counts 512-byte blocks
             QStringLiteral(TAVELO_BIN_DIR "/kqdb"), path("kq.mdb")});
        EXPECT_EQ(run.exitCode, 1) << kilobytes << " KiB: " << run.err.constData();
        EXPECT_TRUE(run.err.startsWith("kqdb: ") && run.err.contains("disk I/O error"))
            << run.err.constData();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.constData();
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList())
            << kilobytes << " KiB";
    }
}

TEST_F(KqdbTest, EmployeeCountIsBoundedBeforeAnythingIsBuilt)
{
    // A count past the bound would otherwise be built in memory first and run out of it.
    for (const char* count : {"2000000000", "99999999999", "-1"}) {
        const TestSupport::ToolRun run =
            TestSupport::runKqdb({"create", path("a.mdb"), "--employees", QString::fromLatin1(count)});
        EXPECT_EQ(run.exitCode, 2) << count;
        EXPECT_TRUE(run.err.contains("--employees takes a number from 0 to 10000000")) << count;
    }
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty());
}

} // namespace
