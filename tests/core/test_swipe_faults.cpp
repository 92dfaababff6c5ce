// A swipe meets a full disk or a failing disk at every write and every sync it makes, one
// after the other, the way SQLite tests itself: each time it must fail cleanly (nothing
// half-written, the file intact, the list still showing), and the next swipe once the
// disk is healthy again must record.

#include "attendance/CardSwipe.h"
#include "attendance/SwipeWindow.h"
#include "support/FaultInjectingVfs.h"
#include "support/ManualClock.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>

namespace {

using TestSupport::DevDatabase;
using TestSupport::FaultInjectingVfs;
using Operation = FaultInjectingVfs::Operation;
using Kind = SwipeOutcome::Kind;

struct Fault
{
    const char* name;
    Operation operation;
    int resultCode;
    bool persistent;
};

const Fault kFaults[] = {
    {"disk full on a write, staying full", Operation::Write, SQLITE_FULL, true},
    {"one write failing", Operation::Write, SQLITE_IOERR_WRITE, false},
    {"one sync failing", Operation::Sync, SQLITE_IOERR_FSYNC, false},
    {"every sync failing from then on", Operation::Sync, SQLITE_IOERR_FSYNC, true},
};

// Enough rounds for every write and sync of one swipe; a swipe that needs more would
// make the test fail rather than stop early.
constexpr int kMaxRounds = 200;

class SwipeFaults : public ::testing::Test
{
protected:
    void SetUp() override { m_terminal.load(); }

    qint64 records() const { return m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")); }
    QString integrity() const { return m_db.text(QStringLiteral("PRAGMA integrity_check")); }

    // A new employee and a new minute for every swipe, so each one is meant to record.
    SwipeOutcome swipe()
    {
        m_terminal.employees.setRecNo(m_swipes % m_terminal.employees.recordCount());
        ++m_swipes;
        m_clock.advanceSecs(SwipeWindow::kSeconds + 60);
        return CardSwipe::run(&m_terminal.employees, m_terminal.records, m_clock);
    }

    FaultInjectingVfs m_vfs;
    DevDatabase m_db{5};
    TestSupport::TerminalQueries m_terminal{m_db.connectionString()};
    ManualClock m_clock{QDateTime(QDate(2026, 3, 2), QTime(8, 0), Qt::UTC)};
    int m_swipes = 0;
};

TEST_F(SwipeFaults, EveryFailedWriteOrSyncFailsTheSwipeCleanlyAndTheNextOneRecords)
{
    int injected = 0;
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        bool passed = false;
        int n = 1;
        for (; n <= kMaxRounds && !passed; ++n) {
            SCOPED_TRACE("fault at call " + std::to_string(n));
            const qint64 before = records();
            m_vfs.arm(fault.operation, n, fault.resultCode, fault.persistent);
            const SwipeOutcome outcome = swipe();
            const int faults = m_vfs.faults();
            m_vfs.disarm();
            injected += faults;
            passed = faults == 0;

            EXPECT_EQ(integrity(), QStringLiteral("ok"));
            EXPECT_TRUE(m_terminal.employees.isOpen());
            EXPECT_FALSE(m_terminal.records.isOpen());
            if (passed) {
                EXPECT_EQ(outcome.kind, Kind::Recorded);
                EXPECT_EQ(records(), before + 1);
                break;
            }
            // What the status line would say must match the file: either nothing at all
            // and the database's reason, or the whole record.
            if (outcome.kind == Kind::Recorded) {
                EXPECT_EQ(records(), before + 1);
            } else {
                EXPECT_EQ(outcome.kind, Kind::Nothing);
                EXPECT_EQ(records(), before);
                EXPECT_EQ(outcome.errorMessage, QString::fromUtf8(sqlite3_errstr(fault.resultCode)));
                // The window shows the failure for this employee, and why, never a success.
                EXPECT_TRUE(outcome.failedText.endsWith(QStringLiteral("刷卡失败！")))
                    << outcome.failedText.toStdString();
                EXPECT_TRUE(outcome.failedText.startsWith(QStringLiteral("【") + outcome.num + u' '))
                    << outcome.failedText.toStdString();
                EXPECT_EQ(outcome.reason, fault.resultCode == SQLITE_FULL ? QStringLiteral("磁盘已满")
                                                                          : QStringLiteral("磁盘读写出错"));
            }

            const SwipeOutcome next = swipe();
            EXPECT_EQ(next.kind, Kind::Recorded) << next.errorMessage.toStdString();
            EXPECT_EQ(records(), before + (outcome.kind == Kind::Recorded ? 2 : 1));
            EXPECT_EQ(integrity(), QStringLiteral("ok"));
        }
        EXPECT_TRUE(passed) << "a swipe still met a fault after " << kMaxRounds << " rounds";
        EXPECT_GT(n, 2) << "the swipe made no write or sync to fail";
        std::printf("[ faults   ] %s: %d calls failed one by one before a swipe passed\n", fault.name, n - 1);
    }
    std::printf("[ faults   ] %d faults injected in all\n", injected);
    EXPECT_GT(injected, 0);
}

} // namespace
