// The server back end against a real, throwaway PostgreSQL server.

#include "attendance/CardSwipe.h"
#include "attendance/ServerChecks.h"
#include "interchange/DevSchema.h"
#include "log/ErrMsgForm.h"
#include "platform/DatabaseError.h"
#include "platform/ServerUnreachable.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/Statements.h"
#include "support/ManualClock.h"
#include "support/ServerSuite.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"
#include "support/ToolRun.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

namespace {

using Kind = SwipeOutcome::Kind;

using TestSupport::clockAt;

// One terminal's connection and queries, as the window holds them.
struct Terminal : TestSupport::TerminalQueries
{
    explicit Terminal(const QString& conninfo) : TerminalQueries(ConnectionString::forServer(conninfo))
    {
        connection.setNetworkTimeout(5000);
    }
    SwipeOutcome swipe(const QString& num, const Clock& clock)
    {
        if (!employees.locate(Statements::kNum, num))
            ADD_FAILURE() << "no employee " << num.toStdString();
        return CardSwipe::run(&employees, records, clock);
    }
};

class PgBackendTest : public ServerSuite
{
protected:
    static int records() { return psql(QStringLiteral("SELECT count(*) FROM sgdjb")).toInt(); }
};

TEST_F(PgBackendTest, SwipeWindowAgainstRowsAnotherProgramInserted)
{
    Terminal terminal(server().conninfo());
    terminal.load();
    ASSERT_EQ(terminal.employees.recordCount(), DevSchema::demoEmployees().size());

    struct Case
    {
        const char* rowNum;
        const char* rowAt; // d + t of the row another program wrote
        const char* now;
        Kind expected;
    };
    const Case cases[] = {
        {"0101", "2026-03-05 09:30:00", "2026-03-05 09:32:59", Kind::AlreadyRecorded}, // 179 s before
        {"0101", "2026-03-05 09:30:00", "2026-03-05 09:27:01", Kind::AlreadyRecorded}, // 179 s ahead
        {"0101", "2026-03-05 09:30:00", "2026-03-05 09:33:00", Kind::Recorded},        // exactly 180 s
        {"0101", "2026-03-05 09:30:00", "2026-03-05 09:27:00", Kind::Recorded},
        {"0102", "2026-03-05 09:30:00", "2026-03-05 09:30:00", Kind::Recorded},        // another employee
        {"0101", "2026-03-05 23:59:30", "2026-03-06 00:01:00", Kind::AlreadyRecorded}, // across midnight
        {"0101", "2026-03-06 00:00:30", "2026-03-05 23:58:00", Kind::AlreadyRecorded},
        {"0101", "2026-03-05 23:58:00", "2026-03-06 00:01:00", Kind::Recorded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.rowAt) + " / " + c.now);
        psql(QStringLiteral("DELETE FROM sgdjb; INSERT INTO sgdjb VALUES ('%1', 'x', '%2'::timestamp::date, "
                            "'%2'::timestamp::time, '1999-01-01')")
                 .arg(QString::fromLatin1(c.rowNum), QString::fromLatin1(c.rowAt)));
        const ManualClock clock(clockAt(c.now));
        const SwipeOutcome outcome = terminal.swipe(QStringLiteral("0101"), clock);
        EXPECT_EQ(outcome.kind, c.expected) << outcome.errorMessage.toStdString();
        EXPECT_FALSE(terminal.records.isOpen());
        if (c.expected == Kind::AlreadyRecorded) {
            EXPECT_EQ(outcome.statusText,
                      QStringLiteral("【0101 x】 %1 已刷卡").arg(QString::fromLatin1(c.rowAt).left(16)));
            EXPECT_EQ(records(), 1);
        } else {
            EXPECT_EQ(outcome.statusText,
                      QStringLiteral("【0101 张伟】 %1 刷卡成功！").arg(QString::fromLatin1(c.now).left(16)));
            EXPECT_EQ(
                psql(QStringLiteral("SELECT num, name, d, t, opdate, d + t FROM sgdjb WHERE name <> 'x'")),
                QStringLiteral("0101|张伟|%1|%2|1999-01-01|%3")
                    .arg(QString::fromLatin1(c.now).left(10), QString::fromLatin1(c.now).mid(11),
                         QString::fromLatin1(c.now)));
        }
    }
}

struct Shared
{
    pthread_barrier_t start;
};

TEST_F(PgBackendTest, ForkedTerminalsSwipingOneEmployeeRecordOneRowPerRound)
{
    constexpr int kTerminals = 6;
    constexpr int kRounds = 40;
    auto* shared = static_cast<Shared*>(
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(shared, MAP_FAILED);
    pthread_barrierattr_t attributes;
    pthread_barrierattr_init(&attributes);
    pthread_barrierattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_barrier_init(&shared->start, &attributes, kTerminals);

    const QString conninfo = server().conninfo();
    std::vector<pid_t> children;
    for (int t = 0; t < kTerminals; ++t) {
        const pid_t pid = fork();
        if (pid == 0) {
            int status = 0;
            try {
                Terminal terminal(conninfo);
                terminal.load();
                for (int round = 0; round < kRounds; ++round) {
                    // Rounds further apart than the window: each must record exactly once.
                    const ManualClock clock(clockAt("2026-03-05 08:00:00").addSecs(round * 400));
                    pthread_barrier_wait(&shared->start);
                    if (terminal.swipe(QStringLiteral("0101"), clock).kind == Kind::Nothing)
                        status = 2;
                }
            } catch (...) {
                status = 3;
            }
            _exit(status);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    pthread_barrier_destroy(&shared->start);
    munmap(shared, sizeof(Shared));

    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM (SELECT d + t FROM sgdjb GROUP BY d + t "
                                  "HAVING count(*) = 1) AS once")),
              QString::number(kRounds));
    EXPECT_EQ(records(), kRounds);
}

TEST_F(PgBackendTest, ServerGoingAwayFailsTheSwipeAndTheNextOneWorksAgain)
{
    Terminal terminal(server().conninfo());
    terminal.load();
    const ManualClock first(clockAt("2026-03-05 09:00:00"));
    ASSERT_EQ(terminal.swipe(QStringLiteral("0101"), first).kind, Kind::Recorded);

    server().stop();
    const ManualClock second(clockAt("2026-03-05 10:00:00"));
    QElapsedTimer elapsed;
    elapsed.start();
    const SwipeOutcome failed = terminal.swipe(QStringLiteral("0102"), second);
    EXPECT_EQ(failed.kind, Kind::Nothing);
    EXPECT_TRUE(failed.statusText.isEmpty());
    EXPECT_FALSE(failed.errorMessage.isEmpty());
    EXPECT_FALSE(terminal.records.isOpen());
    EXPECT_LT(elapsed.elapsed(), 5000);
    // The list stays as it was loaded.
    EXPECT_TRUE(terminal.employees.isOpen());
    EXPECT_EQ(terminal.employees.fieldAsString(Statements::kNum), QStringLiteral("0102"));
    EXPECT_EQ(terminal.swipe(QStringLiteral("0103"), second).kind, Kind::Nothing);

    server().start();
    EXPECT_EQ(terminal.swipe(QStringLiteral("0102"), second).kind, Kind::Recorded);
    EXPECT_EQ(psql(QStringLiteral("SELECT string_agg(num, ',' ORDER BY num) FROM sgdjb")),
              QStringLiteral("0101,0102"));
}

TEST_F(PgBackendTest, UnreachableServersAndTimeoutsAreTheirOwnKind)
{
    QTemporaryDir dir;
    // Nobody listens: refused at once.
    {
        AdoConnection connection;
        connection.setConnectionString(
            ConnectionString::forServer(QStringLiteral("host=%1 port=5999 dbname=kq").arg(dir.path())));
        EXPECT_THROW(connection.open(), ServerUnreachable);
        EXPECT_FALSE(connection.connected());
    }
    // A socket that takes the connection and never answers: the timeout ends the wait.
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral(".s.PGSQL.5998")));
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof(address.sun_path));
    memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    {
        AdoConnection connection;
        connection.setConnectionString(
            ConnectionString::forServer(QStringLiteral("host=%1 port=5998 dbname=kq").arg(dir.path())));
        connection.setNetworkTimeout(300);
        QElapsedTimer elapsed;
        elapsed.start();
        try {
            connection.open();
            ADD_FAILURE() << "connected to a silent socket";
        } catch (const ServerUnreachable& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("300 ms"))) << e.message().toStdString();
        }
        EXPECT_GE(elapsed.elapsed(), 250);
        EXPECT_LT(elapsed.elapsed(), 3000);
    }
    close(listener);
}

TEST_F(PgBackendTest, WrongColumnTypesAreRefusedAtLoadAndNeverWritten)
{
    server().createDatabase(QStringLiteral("wrongtypes"));
    server().psql(
        QStringLiteral("CREATE TABLE employ (num varchar(10), name varchar(20), dept_no varchar(10));"
                       "CREATE TABLE sgdjb (num varchar(10), name varchar(20), d date, t text, "
                       "opdate date);"
                       "INSERT INTO employ VALUES ('0101', 'A', '01');"),
        QStringLiteral("wrongtypes"));
    Terminal terminal(server().conninfo(QStringLiteral("wrongtypes")));
    EXPECT_EQ(CommFunc::OpenTableQuery(&terminal.employees, Statements::kEmployTable, QString(), QString()),
              -1);
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains("column t is text, the terminal needs time(0) without time zone"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("<< SELECT * FROM employ >>"));
    EXPECT_FALSE(terminal.employees.isOpen());
    EXPECT_EQ(
        CardSwipe::run(&terminal.employees, terminal.records, ManualClock(clockAt("2026-03-05 09:00:00")))
            .kind,
        Kind::Nothing);
    EXPECT_EQ(server().psql(QStringLiteral("SELECT count(*) FROM sgdjb"), QStringLiteral("wrongtypes")),
              QStringLiteral("0"));
}

TEST_F(PgBackendTest, TheTerminalRoleLoadsSwipesAndDeletesAndNothingMore)
{
    psql(QStringLiteral("INSERT INTO employ VALUES ('9901', '离职', '99')"));
    Terminal terminal(server().conninfo(QStringLiteral("kq"), DevSchema::kTerminalRole));
    terminal.load();
    EXPECT_EQ(terminal.swipe(QStringLiteral("0101"), ManualClock(clockAt("2026-03-05 09:00:00"))).kind,
              Kind::Recorded);
    EXPECT_EQ(terminal.swipe(QStringLiteral("0101"), ManualClock(clockAt("2026-03-05 09:01:00"))).kind,
              Kind::AlreadyRecorded);
    ASSERT_TRUE(terminal.employees.locate(Statements::kNum, QStringLiteral("9901")));
    terminal.employees.deleteCurrent();
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM employ WHERE num = '9901'")), QStringLiteral("0"));

    AdoQuery other(QStringLiteral("Other"));
    other.setConnection(&terminal.connection);
    for (const char* sql :
         {"UPDATE sgdjb SET name = 'y'", "DELETE FROM sgdjb", "UPDATE employ SET name = 'y'",
          "INSERT INTO employ VALUES ('9902', 'z', '99')", "CREATE TABLE extra (x int)"}) {
        other.sqlClear();
        other.sqlAdd(QString::fromLatin1(sql));
        try {
            other.execSql();
            ADD_FAILURE() << "allowed: " << sql;
        } catch (const ServerUnreachable&) {
            ADD_FAILURE() << "refusal taken for an unreachable server: " << sql;
        } catch (const DatabaseError& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("permission denied")))
                << e.message().toStdString();
        }
    }
    EXPECT_EQ(psql(QStringLiteral("SELECT name FROM sgdjb")), QStringLiteral("张伟"));
    // Still usable after the refusals.
    EXPECT_EQ(terminal.swipe(QStringLiteral("0102"), ManualClock(clockAt("2026-03-05 09:02:00"))).kind,
              Kind::Recorded);
}

TEST_F(PgBackendTest, DeleteRemovesExactlyTheRowShownAndRefusesAChangedOne)
{
    server().createDatabase(QStringLiteral("deletes"));
    QString error;
    ASSERT_TRUE(DevSchema::createServerDatabase(server().conninfo(QStringLiteral("deletes")), {}, &error))
        << error.toStdString();
    server().psql(QStringLiteral("INSERT INTO employ VALUES ('0001', 'A', '01'), ('0002', 'B', '01'), "
                                 "('0002', 'B', '01'), ('0003', 'C', '01'), ('0004', NULL, '01')"),
                  QStringLiteral("deletes"));
    const auto rows = [] {
        return server().psql(
            QStringLiteral("SELECT string_agg(num || ':' || coalesce(name, '-'), ',' ORDER BY "
                           "num) FROM employ"),
            QStringLiteral("deletes"));
    };
    Terminal terminal(server().conninfo(QStringLiteral("deletes")));
    terminal.load();
    ASSERT_TRUE(terminal.employees.canModify());

    // One of two identical rows.
    ASSERT_TRUE(terminal.employees.locate(Statements::kNum, QStringLiteral("0002")));
    terminal.employees.deleteCurrent();
    EXPECT_EQ(rows(), QStringLiteral("0001:A,0002:B,0003:C,0004:-"));
    EXPECT_EQ(terminal.employees.recordCount(), 4);

    // A null value matches a null.
    ASSERT_TRUE(terminal.employees.locate(Statements::kNum, QStringLiteral("0004")));
    terminal.employees.deleteCurrent();
    EXPECT_EQ(rows(), QStringLiteral("0001:A,0002:B,0003:C"));

    // Changed by another program since it was loaded: refused, nothing deleted.
    server().psql(QStringLiteral("UPDATE employ SET name = 'C2' WHERE num = '0003'"),
                  QStringLiteral("deletes"));
    ASSERT_TRUE(terminal.employees.locate(Statements::kNum, QStringLiteral("0003")));
    EXPECT_THROW(terminal.employees.deleteCurrent(), DatabaseError);
    EXPECT_EQ(rows(), QStringLiteral("0001:A,0002:B,0003:C2"));
    EXPECT_EQ(terminal.employees.fieldAsString(Statements::kNum), QStringLiteral("0003"));

    // Deleted and replaced by an identical row elsewhere: the shown row is gone, the new one stays.
    server().psql(
        QStringLiteral("DELETE FROM employ WHERE num = '0001'; INSERT INTO employ VALUES ('0001', 'A', "
                       "'01')"),
        QStringLiteral("deletes"));
    ASSERT_TRUE(terminal.employees.locate(Statements::kNum, QStringLiteral("0001")));
    EXPECT_THROW(terminal.employees.deleteCurrent(), DatabaseError);
    EXPECT_EQ(rows(), QStringLiteral("0001:A,0002:B,0003:C2"));
}

TEST_F(PgBackendTest, AClockFarFromTheServersIsLoggedOnce)
{
    Terminal terminal(server().conninfo());
    terminal.load();
    const QDateTime serverNow = QDateTime::fromString(psql(QStringLiteral("SELECT LOCALTIMESTAMP(0)::text")),
                                                      QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QDateTime close(serverNow.date(), serverNow.time().addSecs(30), Qt::UTC);
    EXPECT_TRUE(ServerChecks::CheckServerClock(&terminal.connection, ManualClock(close)));
    EXPECT_TRUE(logLines().isEmpty());

    const QDateTime far = QDateTime(serverNow.date(), serverNow.time(), Qt::UTC).addSecs(-3600);
    EXPECT_FALSE(ServerChecks::CheckServerClock(&terminal.connection, ManualClock(far)));
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(far.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toUtf8()))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(serverNow.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toUtf8()));
    EXPECT_TRUE(lines[0].contains("<< SELECT now() >>"));

    // A file has no other clock.
    TestSupport::DevDatabase file;
    AdoConnection connection;
    connection.setConnectionString(file.connectionString());
    EXPECT_TRUE(ServerChecks::CheckServerClock(&connection, ManualClock(far)));
    EXPECT_EQ(logLines().size(), 1);
}

TEST(PgBackendPassword, AWrongPasswordIsRefusedWithoutShowingIt)
{
    PgTestServer server(PgTestServer::Options{true, {}});
    AdoConnection connection;
    connection.setConnectionString(
        ConnectionString::forServer(server.conninfo() + QStringLiteral(" password=Wr0ng-Secret-42")));
    try {
        connection.open();
        FAIL() << "connected with a wrong password";
    } catch (const ServerUnreachable& e) {
        FAIL() << "a refusal taken for an unreachable server: " << e.message().toStdString();
    } catch (const DatabaseError& e) {
        EXPECT_FALSE(e.message().contains(QStringLiteral("Wr0ng-Secret-42")));
        EXPECT_TRUE(e.message().contains(QStringLiteral("password"))) << e.message().toStdString();
    }
    connection.setConnectionString(
        ConnectionString::forServer(server.conninfo() + QStringLiteral(" password=") +
                                    QString::fromLatin1(PgTestServer::kSuperuserPassword)));
    QString error;
    EXPECT_TRUE(DevSchema::createServerDatabase(server.conninfo() + QStringLiteral(" password=") +
                                                    QString::fromLatin1(PgTestServer::kSuperuserPassword),
                                                {}, &error))
        << error.toStdString();
    EXPECT_NO_THROW(connection.open());
}

} // namespace

namespace {

TEST_F(PgBackendTest, KqdbCreatesAndSwipesOnAServerAsOnAFile)
{
    server().createDatabase(QStringLiteral("bytool"));
    const QString target = server().conninfo(QStringLiteral("bytool"));
    const TestSupport::ToolRun created = TestSupport::runKqdb(
        {QStringLiteral("create"), target, QStringLiteral("--employees"), QStringLiteral("120")});
    ASSERT_EQ(created.exitCode, 0) << created.err.toStdString();
    EXPECT_TRUE(created.out.contains("with 120 employees")) << created.out.toStdString();
    EXPECT_EQ(server().psql(QStringLiteral("SELECT count(*) FROM employ"), QStringLiteral("bytool")),
              QStringLiteral("120"));
    // Never over existing tables, and nothing half made.
    EXPECT_NE(TestSupport::runKqdb({QStringLiteral("create"), target, QStringLiteral("--demo")}).exitCode, 0);
    EXPECT_EQ(server().psql(QStringLiteral("SELECT count(*) FROM employ"), QStringLiteral("bytool")),
              QStringLiteral("120"));

    const QStringList swipe = {QStringLiteral("swipe"), target, QStringLiteral("0001"),
                               QStringLiteral("--now"), QStringLiteral("2026-03-05 09:30:15")};
    const TestSupport::ToolRun first = TestSupport::runKqdb(swipe);
    EXPECT_EQ(first.exitCode, 0) << first.err.toStdString();
    const TestSupport::ToolRun second = TestSupport::runKqdb(swipe);
    EXPECT_EQ(second.exitCode, 4) << second.err.toStdString();
    EXPECT_EQ(server().psql(QStringLiteral("SELECT num, d + t FROM sgdjb"), QStringLiteral("bytool")),
              QStringLiteral("0001|2026-03-05 09:30:15"));
}

} // namespace

// A server whose sessions write dates in another style (a site's DateStyle): the terminal
// sets none of its own, and still reads every date and time as the same instant: in the
// list, in a swipe's "already recorded" answer and in an export.
TEST_F(PgBackendTest, DatesReadTheSameWhateverTheServersDateStyle)
{
    server().createDatabase(QStringLiteral("styles"));
    QString error;
    ASSERT_TRUE(DevSchema::createServerDatabase(server().conninfo(QStringLiteral("styles")),
                                                DevSchema::demoEmployees(), &error))
        << error.toStdString();
    server().psql(QStringLiteral("ALTER TABLE employ ADD COLUMN hired date, ADD COLUMN seen timestamp; "
                                 "UPDATE employ SET hired = '2025-11-30', seen = '2026-01-02 03:04:05' "
                                 "WHERE num = '0101'"),
                  QStringLiteral("styles"));
    for (const char* style :
         {"SQL, DMY", "SQL, MDY", "German", "Postgres, DMY", "Postgres, MDY", "ISO, DMY"}) {
        SCOPED_TRACE(style);
        server().psql(
            QStringLiteral("ALTER DATABASE styles SET DateStyle = '%1'; ").arg(QString::fromLatin1(style)),
            QStringLiteral("postgres"));
        server().psql(
            QStringLiteral("DELETE FROM sgdjb; INSERT INTO sgdjb VALUES ('0101', 'x', '2026-03-05', "
                           "'09:30:00', '1999-01-01')"),
            QStringLiteral("styles"));
        Terminal terminal(server().conninfo(QStringLiteral("styles")));
        terminal.load();
        ASSERT_TRUE(terminal.employees.locate(Statements::kNum, QStringLiteral("0101")));
        EXPECT_EQ(terminal.employees.fieldAsString(QStringLiteral("hired")), QStringLiteral("2025-11-30"));
        EXPECT_EQ(terminal.employees.fieldAsString(QStringLiteral("seen")),
                  QStringLiteral("2026-01-02 03:04:05"));

        const SwipeOutcome again =
            terminal.swipe(QStringLiteral("0101"), ManualClock(clockAt("2026-03-05 09:32:00")));
        EXPECT_EQ(again.kind, Kind::AlreadyRecorded) << again.errorMessage.toStdString();
        EXPECT_EQ(again.statusText, QStringLiteral("【0101 x】 2026-03-05 09:30 已刷卡"));
        const SwipeOutcome later =
            terminal.swipe(QStringLiteral("0101"), ManualClock(clockAt("2026-03-05 09:33:00")));
        EXPECT_EQ(later.kind, Kind::Recorded) << later.errorMessage.toStdString();

        const TestSupport::ToolRun run =
            TestSupport::runKqdb({QStringLiteral("export"), server().conninfo(QStringLiteral("styles"))});
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
        EXPECT_EQ(run.out.toStdString(), "num,name,date,time\r\n0101,x,2026-03-05,09:30:00\r\n"
                                         "0101,张伟,2026-03-05,09:33:00\r\n");
    }
}
