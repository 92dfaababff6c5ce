#include "attendance/CardSwipe.h"
#include "interchange/DevSchema.h"
#include "query/Statements.h"
#include "support/ManualClock.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A payroll clerk may read the database but not write it, nor its folder: the export
// works for them and leaves the file as it was.
TEST_F(KqdbTest, ExportNeedsOnlyTheRightToRead)
{
    const QString db = path("kq.mdb");
    ASSERT_EQ(runKqdb({"create", db, "--demo"}), 0);
    ASSERT_EQ(runKqdb({"swipe", db, "0101"}), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(db).constData(), 0644), 0);
    const QByteArray before = TestSupport::fileBytes(db);

    const TestSupport::ToolRun run =
        TestSupport::runProgramUnprivileged(QStringLiteral(TAVELO_BIN_DIR "/kqdb"), {"export", db});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(run.out.startsWith("num,name,date,time\r\n0101,")) << run.out.constData();
    EXPECT_EQ(run.out.count("\r\n"), 2);
    EXPECT_EQ(TestSupport::fileBytes(db), before);
    // Nothing beside the file but its write-ahead log and index, which the reader needs
    // and cannot make: kept there by the writers.
    EXPECT_EQ(
        QDir(m_dir.path()).entryList(QDir::Files),
        (QStringList{QStringLiteral("kq.mdb"), QStringLiteral("kq.mdb-shm"), QStringLiteral("kq.mdb-wal")}));
}

// `kqdb export kq.mdb | less` left open: the export has read what it needs and holds no
// lock while it waits for its reader, so a swipe of the same file records at once.
TEST_F(KqdbTest, ExportBlockedOnItsOutputDoesNotHoldUpASwipe)
{
    const QString db = path("kq.mdb");
    ASSERT_EQ(runKqdb({"create", db, "--employees", "3"}), 0);
    TestSupport::SqliteFile(db).exec(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                       "INSERT INTO sgdjb SELECT '0009', '旧记录', 1700000000 - i * 600, 0, 0 FROM n"));
    TestSupport::TerminalQueries terminal(TestSupport::jetConnectionString(db));
    terminal.load();
    ManualClock clock(QDateTime(QDate(2026, 3, 2), QTime(8, 0), Qt::UTC));
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(CardSwipe::run(&terminal.employees, terminal.records, clock).kind,
              SwipeOutcome::Kind::Recorded);
    const qint64 usualMs = timer.elapsed();

    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    QProcess exporter;
    exporter.setChildProcessModifier([&] { ::dup2(output[1], STDOUT_FILENO); });
    exporter.setStandardOutputFile(QProcess::nullDevice());
    exporter.start(QStringLiteral(TAVELO_BIN_DIR "/kqdb"), {QStringLiteral("export"), db});
    ASSERT_TRUE(exporter.waitForStarted());
    ::close(output[1]);
    const auto stop = qScopeGuard([&] {
        exporter.kill();
        exporter.waitForFinished(5000);
        ::close(output[0]);
    });
    // Nobody reads the pipe: once it is full, the export waits in its write.
    const auto blocked = [&] {
        int waiting = 0;
        return ::ioctl(output[0], FIONREAD, &waiting) == 0 && waiting >= ::fcntl(output[0], F_GETPIPE_SZ);
    };
    QDeadlineTimer deadline(20000);
    while (!blocked() && !deadline.hasExpired())
        QThread::msleep(20);
    ASSERT_TRUE(blocked()) << "the export never blocked on its output";

    terminal.employees.setRecNo(1);
    timer.restart();
    const SwipeOutcome outcome = CardSwipe::run(&terminal.employees, terminal.records, clock);
    const qint64 heldMs = timer.elapsed();
    std::printf("[ timing   ] swipe alone %lld ms, with an export blocked on its output %lld ms\n", usualMs,
                heldMs);
    EXPECT_EQ(outcome.kind, SwipeOutcome::Kind::Recorded) << outcome.errorMessage.toStdString();
    EXPECT_LT(heldMs, usualMs + 100);
    EXPECT_EQ(exporter.state(), QProcess::Running);
    EXPECT_EQ(TestSupport::SqliteFile(db).scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 20002);
}

} // namespace
