// The one way from the window to attendance, for a database file and for a server that
// cannot be reached: the list, the swipe by number, a card read, the delete and what the
// trouble line is told.

#include "attendance/AttendanceTerminal.h"
#include "log/ErrMsgForm.h"
#include "query/AdoQuery.h"
#include "query/ConnectionString.h"
#include "query/DatabaseTarget.h"
#include "query/Statements.h"
#include "support/DevDatabase.h"
#include "support/ManualClock.h"

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

    int lines() const { return int(contents().count('\n')); }
    QByteArray contents() const
    {
        QFile file(m_dir.filePath(QStringLiteral("error.log")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }

private:
    QTemporaryDir m_dir;
};

} // namespace

TEST(AttendanceTerminal, DatabaseFileLoadsSwipesByNumberAndDeletesWithNothingToWaitFor)
{
    const TestSupport::DevDatabase db(3);
    ManualClock clock(kNine);
    AttendanceTerminal terminal(clock);
    Heard heard(terminal);
    // Nothing is touched before the database is opened and the list loaded.
    EXPECT_FALSE(terminal.employees()->isOpen());
    EXPECT_EQ(terminal.records()->connection(), nullptr);

    terminal.open(DatabaseTarget::file(db.path()));
    terminal.loadEmployees();
    EXPECT_EQ(terminal.employees()->recordCount(), 3);
    EXPECT_EQ(terminal.records()->connection(), terminal.connection());
    EXPECT_EQ(heard.lasting, QString());
    EXPECT_EQ(heard.offline, false);
    EXPECT_EQ(heard.waiting, 0);
    EXPECT_EQ(heard.refused, 0);

    const SwipeOutcome first = terminal.swipe(QStringLiteral("0001"));
    EXPECT_EQ(AttendanceTerminal::statusLine(first),
              QStringLiteral("【0001 Worker 0001】 2026-03-02 09:00 刷卡成功！"));
    EXPECT_EQ(AttendanceTerminal::swipeTrouble(first), QString());
    EXPECT_FALSE(terminal.records()->isOpen());
    clock.advanceSecs(60);
    const SwipeOutcome again = terminal.swipe(QStringLiteral("0001"));
    EXPECT_EQ(AttendanceTerminal::statusLine(again),
              QStringLiteral("【0001 Worker 0001】 2026-03-02 09:00 已刷卡"));
    // Another number than the current employee's: that employee is made current and swiped.
    const SwipeOutcome third = terminal.swipe(QStringLiteral("0003"));
    EXPECT_EQ(AttendanceTerminal::statusLine(third),
              QStringLiteral("【0003 Worker 0003】 2026-03-02 09:01 刷卡成功！"));
    EXPECT_EQ(terminal.employees()->fieldAsString(Statements::kNum), QStringLiteral("0003"));
    // A number nobody in the list has records nobody, least of all the current employee.
    const SwipeOutcome nobody = terminal.swipe(QStringLiteral("0009"));
    EXPECT_EQ(nobody.kind, SwipeOutcome::Kind::Nothing);
    EXPECT_TRUE(AttendanceTerminal::hadNobodyToSwipe(nobody));
    EXPECT_EQ(db.rows(QStringLiteral("SELECT num FROM sgdjb ORDER BY rowid")),
              QStringList({QStringLiteral("0001"), QStringLiteral("0003")}));

    terminal.deleteCurrent();
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM employ WHERE num = '0003'")), 0);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM employ")), 2);

    QStringList closed;
    QObject::connect(terminal.employees(), &AdoQuery::closed, [&] { closed << QStringLiteral("YgQry"); });
    QObject::connect(terminal.connection(), &AdoConnection::aboutToClose,
                     [&] { closed << QStringLiteral("ADOConnectionYg"); });
    terminal.close();
    EXPECT_EQ(closed, QStringList({QStringLiteral("YgQry"), QStringLiteral("ADOConnectionYg")}));
}

// A card read records its holder and never someone else: an unknown card, a card whose
// holder left the list and a card read while a box is open record nobody, name the card,
// and write one line each to the error log.
TEST(AttendanceTerminal, ACardRecordsItsHolderAndNeverSomeoneElse)
{
    const ErrorLog log;
    const TestSupport::DevDatabase db(20);
    db.exec(
        QStringLiteral("INSERT INTO card (card, num) VALUES ('0012345678', '0007'), ('0055500555', '0019')"));
    ManualClock clock(kNine);
    AttendanceTerminal terminal(clock);
    terminal.open(DatabaseTarget::file(db.path()));
    terminal.loadEmployees();
    ASSERT_EQ(terminal.employees()->recNo(), 0);

    const SwipeOutcome known = terminal.swipeCard(QStringLiteral("0012345678"), false);
    EXPECT_EQ(AttendanceTerminal::statusLine(known),
              QStringLiteral("【0007 Worker 0007】 2026-03-02 09:00 刷卡成功！"));
    EXPECT_EQ(known.num, QStringLiteral("0007"));
    EXPECT_EQ(terminal.employees()->fieldAsString(Statements::kNum), QStringLiteral("0007"));
    EXPECT_EQ(log.lines(), 0);

    // The digits of an unknown card start like employee 0012's number: nobody is recorded.
    const SwipeOutcome unknown = terminal.swipeCard(QStringLiteral("0099999999"), false);
    EXPECT_TRUE(unknown.failed());
    EXPECT_EQ(AttendanceTerminal::statusLine(unknown),
              QStringLiteral("【卡 0099999999】 2026-03-02 09:00 刷卡失败！"));
    EXPECT_EQ(AttendanceTerminal::swipeTrouble(unknown),
              QStringLiteral("刷卡失败：卡 0099999999 未登记，请找管理员"));
    EXPECT_EQ(log.lines(), 1);
    EXPECT_TRUE(log.contents().contains("0099999999"));

    // The holder of 0055500555 is deleted from the list: the card is refused.
    db.exec(QStringLiteral("DELETE FROM employ WHERE num = '0019'"));
    terminal.loadEmployees();
    const SwipeOutcome gone = terminal.swipeCard(QStringLiteral("0055500555"), false);
    EXPECT_EQ(AttendanceTerminal::swipeTrouble(gone),
              QStringLiteral("刷卡失败：卡 0055500555 的持卡人不在员工名单中"));
    EXPECT_EQ(log.lines(), 2);

    // Read while the error box waits: even a known card records nobody.
    clock.advanceSecs(600);
    const SwipeOutcome boxed = terminal.swipeCard(QStringLiteral("0012345678"), true);
    EXPECT_EQ(AttendanceTerminal::swipeTrouble(boxed),
              QStringLiteral("刷卡失败：请先关闭提示框，卡 0012345678 未记录"));
    EXPECT_EQ(log.lines(), 3);
    EXPECT_EQ(db.rows(QStringLiteral("SELECT num FROM sgdjb")), QStringList({QStringLiteral("0007")}));
}

// A database made before cards: the list loads as ever, nothing is said or logged, and a
// card read is a card nobody has.
TEST(AttendanceTerminal, AFileWithoutACardTableWorksAsBefore)
{
    const ErrorLog log;
    const TestSupport::DevDatabase db(3);
    db.exec(QStringLiteral("DROP TABLE card"));
    ManualClock clock(kNine);
    AttendanceTerminal terminal(clock);
    Heard heard(terminal);
    terminal.open(DatabaseTarget::file(db.path()));
    terminal.loadEmployees();
    EXPECT_EQ(terminal.employees()->recordCount(), 3);
    EXPECT_EQ(heard.lasting, QString());
    EXPECT_EQ(log.lines(), 0);
    const SwipeOutcome read = terminal.swipeCard(QStringLiteral("0001"), false);
    EXPECT_TRUE(read.failed());
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 0);
}

TEST(AttendanceTerminal, MissingFileIsSaidOnTheTroubleLineAndASwipeFailsVisibly)
{
    const ErrorLog log;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kq.mdb"));
    ManualClock clock(kNine);
    AttendanceTerminal terminal(clock);
    Heard heard(terminal);

    terminal.open(DatabaseTarget::file(path));
    terminal.loadEmployees();
    EXPECT_FALSE(terminal.employees()->isOpen());
    EXPECT_EQ(heard.lasting,
              QStringLiteral("无法打开数据库：文件 %1 不存在").arg(QDir::toNativeSeparators(path)));
    EXPECT_EQ(heard.offline, false);
    EXPECT_EQ(log.lines(), 1);

    // No list, nobody to swipe for: said in the status line; the start failure is the reason.
    const SwipeOutcome outcome = terminal.swipe(QString());
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
    ManualClock clock(kNine);
    AttendanceTerminal terminal(clock);
    Heard heard(terminal);

    terminal.open(DatabaseTarget::parse(QStringLiteral("host=%1 port=5997 dbname=kq").arg(socketDir.path())));
    terminal.loadEmployees();
    EXPECT_FALSE(terminal.employees()->isOpen());
    EXPECT_EQ(heard.lasting, QStringLiteral("服务器无法连接，本机也没有员工名单的副本"));
    // That line says the server cannot be reached; the state's line does not say it again.
    EXPECT_EQ(heard.offline, false);
    EXPECT_EQ(heard.waiting, 0);
    EXPECT_EQ(AttendanceTerminal::stateText(true, 0, 0),
              QStringLiteral("服务器无法连接（离线）：0 条刷卡待上传"));
}
