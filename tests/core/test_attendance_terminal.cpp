// The one way from the window to attendance, for a database file and for a server that
// cannot be reached: the list, the swipe, the delete and what the trouble line is told.

#include "attendance/AttendanceTerminal.h"
#include "log/ErrMsgForm.h"
#include "query/CommFunc.h"
#include "query/Statements.h"
#include "support/DevDatabase.h"
#include "support/ManualClock.h"
#include "support/TerminalQueries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

// What the window's trouble line hears from the terminal, as it would show it.
struct Heard
{
    explicit Heard(AttendanceTerminal& terminal)
    {
        QObject::connect(&terminal, &AttendanceTerminal::lastingTroubleChanged,
                         [this](const QString& text) { lasting = text; });
        QObject::connect(&terminal, &AttendanceTerminal::stateChanged,
                         [this](bool nowOffline, int nowWaiting) {
                             offline = nowOffline;
                             waiting = nowWaiting;
                         });
        QObject::connect(&terminal, &AttendanceTerminal::refusedChanged,
                         [this](int nowRefused) { refused = nowRefused; });
    }

    std::optional<QString> lasting;
    std::optional<bool> offline;
    std::optional<int> waiting;
    std::optional<int> refused;
};

const QDateTime kNine(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);

// The error log's lines, written into a folder of the test's own.
class ErrorLog
{
public:
    ErrorLog() { ErrMsgForm::instance().setLogFileName(m_dir.filePath(QStringLiteral("error.log"))); }

    int lines() const
    {
        QFile file(m_dir.filePath(QStringLiteral("error.log")));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return int(file.readAll().count('\n'));
    }

private:
    QTemporaryDir m_dir;
};

} // namespace

TEST(AttendanceTerminal, DatabaseFileLoadsSwipesAndDeletesWithNothingToWaitFor)
{
    const TestSupport::DevDatabase db(3);
    TestSupport::TerminalQueries queries(db.connectionString());
    ManualClock clock(kNine);
    const auto terminal = AttendanceTerminal::forConnection(queries.connection, db.path(), clock);
    Heard heard(*terminal);

    terminal->loadEmployees(&queries.employees);
    EXPECT_EQ(queries.employees.recordCount(), 3);
    EXPECT_EQ(heard.lasting, QString());
    EXPECT_EQ(heard.offline, false);
    EXPECT_EQ(heard.waiting, 0);
    EXPECT_EQ(heard.refused, 0);

    const SwipeOutcome first = terminal->swipe(&queries.employees, queries.records);
    EXPECT_EQ(AttendanceTerminal::statusLine(first),
              QStringLiteral("【0001 Worker 0001】 2026-03-02 09:00 刷卡成功！"));
    EXPECT_EQ(AttendanceTerminal::swipeTrouble(first), QString());
    clock.advanceSecs(60);
    const SwipeOutcome again = terminal->swipe(&queries.employees, queries.records);
    EXPECT_EQ(AttendanceTerminal::statusLine(again),
              QStringLiteral("【0001 Worker 0001】 2026-03-02 09:00 已刷卡"));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 1);

    terminal->deleteCurrent(queries.employees);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM employ WHERE num = '0001'")), 0);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM employ")), 2);
}

TEST(AttendanceTerminal, MissingFileIsSaidOnTheTroubleLineAndASwipeFailsVisibly)
{
    const ErrorLog log;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kq.mdb"));
    TestSupport::TerminalQueries queries(CommFunc::MakeJetConnStr(path));
    ManualClock clock(kNine);
    const auto terminal = AttendanceTerminal::forConnection(queries.connection, path, clock);
    Heard heard(*terminal);

    terminal->loadEmployees(&queries.employees);
    EXPECT_FALSE(queries.employees.isOpen());
    EXPECT_EQ(heard.lasting,
              QStringLiteral("无法打开数据库：文件 %1 不存在").arg(QDir::toNativeSeparators(path)));
    EXPECT_EQ(heard.offline, false);
    EXPECT_EQ(log.lines(), 1);

    // No list, nobody to swipe for: said in the status line; the start failure is the reason.
    const SwipeOutcome outcome = terminal->swipe(&queries.employees, queries.records);
    EXPECT_EQ(AttendanceTerminal::statusLine(outcome), QStringLiteral("刷卡失败！"));
    EXPECT_TRUE(AttendanceTerminal::hadNobodyToSwipe(outcome));
    EXPECT_EQ(AttendanceTerminal::swipeTrouble(outcome), QStringLiteral("刷卡失败：员工名单是空的"));
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(AttendanceTerminal, ServerOutOfReachWithoutACopySaysSoInOneLine)
{
    const ErrorLog log;
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    QTemporaryDir socketDir; // no server listens here
    TestSupport::TerminalQueries queries(
        CommFunc::MakeServerConnStr(QStringLiteral("host=%1 port=5997 dbname=kq").arg(socketDir.path())));
    ManualClock clock(kNine);
    const auto terminal = AttendanceTerminal::forConnection(queries.connection, QString(), clock);
    Heard heard(*terminal);

    terminal->loadEmployees(&queries.employees);
    EXPECT_FALSE(queries.employees.isOpen());
    EXPECT_EQ(heard.lasting, QStringLiteral("服务器无法连接，本机也没有员工名单的副本"));
    // That line says the server cannot be reached; the state's line does not say it again.
    EXPECT_EQ(heard.offline, false);
    EXPECT_EQ(heard.waiting, 0);
    EXPECT_EQ(AttendanceTerminal::stateText(true, 0, 0),
              QStringLiteral("服务器无法连接（离线）：0 条刷卡待上传"));
}
