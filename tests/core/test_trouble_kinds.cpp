// The red line's reason comes from the kind of trouble the failure carries from where it
// was raised, never from its message: each sabotage of a database, on a file and on a
// server, reaches the operator as its own words, and a message reworded (or one that
// happens to contain another kind's words) changes nothing the operator reads.

#include "attendance/AttendanceTerminal.h"
#include "attendance/CardSwipe.h"
#include "attendance/TroubleText.h"
#include "interchange/DevSchema.h"
#include "platform/DatabaseError.h"
#include "platform/QueryStateError.h"
#include "query/CommFunc.h"
#include "support/ManualClock.h"
#include "support/ServerSuite.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QDateTime kNine(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);

QString reasonOf(const Exception& error)
{
    try {
        throw error;
    } catch (...) {
        return TroubleText::swipeReason(std::current_exception());
    }
}

TEST(TroubleKinds, WordsComeFromTheKindNotTheMessage)
{
    // Messages that carry other kinds' wording, as a reworded back end might write them.
    const QString misleading =
        QStringLiteral("Could not find file 'x': no such table: sgdjb; it is a folder; Permission denied; "
                       "has no employee number; not an SQLite database; Microsoft Access database");
    EXPECT_EQ(reasonOf(DatabaseError(misleading)), QStringLiteral("数据库出错"));
    EXPECT_EQ(reasonOf(QueryStateError(misleading)), QStringLiteral("数据库出错"));
    EXPECT_EQ(reasonOf(DatabaseError(QStringLiteral("anything"), Exception::Trouble::MissingTable)),
              QStringLiteral("数据库中没有考勤表"));
    EXPECT_EQ(reasonOf(QueryStateError(QStringLiteral("anything"), Exception::Trouble::NoNumber)),
              QStringLiteral("该员工没有编号"));
    EXPECT_EQ(TroubleText::swipeReason(std::make_exception_ptr(std::runtime_error("disk is full"))),
              QStringLiteral("数据库出错"));
}

// A terminal on a file whose database is sabotaged after the list loaded: the swipe fails
// and the red line names what is wrong.
class FileSabotage : public ::testing::Test
{
protected:
    QString swipeTroubleAfter(const std::function<void(const QString& path)>& sabotage)
    {
        const TestSupport::DevDatabase db(2);
        TestSupport::TerminalQueries queries(db.connectionString());
        ManualClock clock(kNine);
        const auto terminal = AttendanceTerminal::forConnection(queries.connection, db.path(), clock);
        terminal->loadEmployees(&queries.employees);
        EXPECT_EQ(queries.employees.recordCount(), 2);
        sabotage(db.path());
        const SwipeOutcome outcome = terminal->swipe(&queries.employees, queries.records);
        EXPECT_EQ(outcome.kind, SwipeOutcome::Kind::Nothing);
        EXPECT_EQ(AttendanceTerminal::statusLine(outcome),
                  QStringLiteral("【0001 Worker 0001】 2026-03-02 09:00 刷卡失败！"));
        return AttendanceTerminal::swipeTrouble(outcome);
    }
};

TEST_F(FileSabotage, EachCauseReachesTheRedLineInItsOwnWords)
{
    EXPECT_EQ(swipeTroubleAfter([](const QString& path) {
                  TestSupport::SqliteFile(path).exec(QStringLiteral("DROP TABLE sgdjb"));
              }),
              QStringLiteral("刷卡失败：数据库中没有考勤表"));
    EXPECT_EQ(swipeTroubleAfter([](const QString& path) { ASSERT_TRUE(QFile::remove(path)); }),
              QStringLiteral("刷卡失败：数据库文件不见了"));
    EXPECT_EQ(swipeTroubleAfter([](const QString& path) {
                  ASSERT_TRUE(QFile::remove(path));
                  ASSERT_TRUE(QDir().mkdir(path));
              }),
              QStringLiteral("刷卡失败：数据库路径是一个文件夹"));
    EXPECT_EQ(swipeTroubleAfter([](const QString& path) {
                  ASSERT_TRUE(QFile::remove(path));
                  QByteArray access(4096, '\0');
                  access.replace(0, 4, QByteArray("\x00\x01\x00\x00", 4));
                  access.replace(4, 15, "Standard Jet DB");
                  TestSupport::writeFile(path, access);
              }),
              QStringLiteral("刷卡失败：数据库被换成了 Access 文件"));
    EXPECT_EQ(swipeTroubleAfter([](const QString& path) {
                  ASSERT_TRUE(QFile::remove(path));
                  TestSupport::writeFile(path, QByteArray(8192, '\x5a'));
              }),
              QStringLiteral("刷卡失败：数据库文件已损坏"));
}

// A server database that lost the attendance table after the list loaded (SQLSTATE 42P01):
// the swipe says so, as on a file, instead of a database error without a cause.
class ServerWithoutRecords : public ServerSuite
{
};

TEST_F(ServerWithoutRecords, MissingTableIsSaid)
{
    server().createDatabase(QStringLiteral("norecords"));
    QString error;
    ASSERT_TRUE(DevSchema::createServerDatabase(server().conninfo(QStringLiteral("norecords")),
                                                DevSchema::demoEmployees(), &error))
        << error.toStdString();
    TestSupport::TerminalQueries queries(
        CommFunc::MakeServerConnStr(server().conninfo(QStringLiteral("norecords"))));
    queries.load();
    ASSERT_GT(queries.employees.recordCount(), 0);
    server().psql(QStringLiteral("DROP TABLE sgdjb"), QStringLiteral("norecords"));
    ManualClock clock(kNine);
    const SwipeOutcome outcome = CardSwipe::run(&queries.employees, queries.records, clock);
    EXPECT_EQ(outcome.kind, SwipeOutcome::Kind::Nothing);
    EXPECT_EQ(AttendanceTerminal::swipeTrouble(outcome), QStringLiteral("刷卡失败：数据库中没有考勤表"));
}

} // namespace
