// The local store cannot lose a queued swipe unseen. Swipes are queued while the server is
// away; the terminal is killed (its files taken as a kill leaves them: the log not written
// back into the store); then bytes of the store, of its log or of the record kept beside it
// are overwritten, or the log is deleted under the running terminal. At the next start the
// damage is found, said on the red line and in the log, the damaged file kept aside, and
// every queued swipe reaches the server once. Also: a lock on the server that holds the
// swipes up is logged once when it starts and once when it ends.

#include "attendance/AttendanceLink.h"
#include "attendance/LocalStore.h"
#include "attendance/SwipeLedger.h"
#include "attendance/TroubleText.h"
#include "interchange/DevSchema.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/Statements.h"
#include "support/LinkedTerminal.h"
#include "support/ManualClock.h"
#include "support/ServerSuite.h"
#include "support/SqliteFile.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

namespace {

using Kind = SwipeOutcome::Kind;
using TestSupport::clockAt;
using TestSupport::waitWithEvents;

// Watches its store five times a second, by the test's clock.
struct Terminal : TestSupport::LinkedTerminal
{
    Terminal(const QString& conninfo, const QString& storePath)
        : LinkedTerminal(conninfo, storePath, options(), LinkClock::Manual)
    {
    }

    static AttendanceLink::Options options()
    {
        AttendanceLink::Options options = fast();
        options.forwardTimeoutMs = 1000;
        options.storeWatchMs = 200;
        return options;
    }
};

void copyFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    if (QFile::exists(from)) {
        ASSERT_TRUE(QFile::copy(from, to)) << from.toStdString();
    }
}

void overwrite(const QString& path, qint64 offset, qint64 length)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite)) << path.toStdString();
    ASSERT_LE(offset + length, file.size());
    file.seek(offset);
    file.write(QByteArray(length, '\x5a'));
}

enum class Damage
{
    LogMiddle,
    LogLastFrame,
    StoreRow,
    RecordLine
};

class StoreDamageTest : public ServerSuite, public ::testing::WithParamInterface<Damage>
{
protected:
    void SetUp() override
    {
        TestSupport::coreApplication();
        ServerSuite::SetUp();
    }

    // num|d + t of every record, by instant.
    static QString rows()
    {
        return psql(QStringLiteral("SELECT coalesce(string_agg(num || '|' || (d + t)::text, ' ' ORDER BY d + "
                                   "t, num), '') FROM sgdjb"));
    }

    // Three swipes queued while the server is away; the store's files then taken as a
    // kill -9 of the terminal leaves them, into the folder "killed".
    QString queueThreeAndKill()
    {
        const QString live = tempPath("store.sqlite");
        const QString killed = tempPath("killed");
        QDir().mkpath(killed);
        Terminal terminal(conninfo(), live);
        EXPECT_EQ(terminal.link->loadEmployees(&terminal.employees), DevSchema::demoEmployees().size());
        server().stop();
        EXPECT_EQ(terminal.swipe("0101", "2026-03-02 08:00:00").kind, Kind::Recorded);
        EXPECT_EQ(terminal.swipe("0102", "2026-03-02 08:00:10").kind, Kind::Recorded);
        EXPECT_EQ(terminal.swipe("0103", "2026-03-02 08:00:20").kind, Kind::Recorded);
        EXPECT_EQ(terminal.link->waitingCount(), 3);
        const QString store = killed + QStringLiteral("/store.sqlite");
        for (const char* suffix : {"", "-wal", ".ledger"})
            copyFile(live + QString::fromLatin1(suffix), store + QString::fromLatin1(suffix));
        return store;
    }
};

TEST_P(StoreDamageTest, DamageIsFoundSaidAndEveryQueuedSwipeArrivesOnce)
{
    const QString store = queueThreeAndKill();
    const QString wal = store + QStringLiteral("-wal");
    const QString ledger = SwipeLedger::pathFor(store);
    switch (GetParam()) {
    case Damage::LogMiddle:
        overwrite(wal, QFile(wal).size() / 2 - 1024, 2048);
        break;
    case Damage::LogLastFrame:
        overwrite(wal, QFile(wal).size() - 600, 512);
        break;
    case Damage::StoreRow: {
        // Written back into the store first, as a checkpoint does, then a queued row's
        // bytes overwritten: the file still passes SQLite's own check.
        TestSupport::SqliteFile(store).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        QFile file(store);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        file.close();
        ASSERT_GT(data.indexOf("0102"), 0);
        for (qint64 at = data.indexOf("0102"); at >= 0; at = data.indexOf("0102", at + 1))
            overwrite(store, at, 4);
        break;
    }
    case Damage::RecordLine: {
        QFile file(ledger);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        const qint64 at = data.indexOf("0102");
        ASSERT_GT(at, 0);
        file.close();
        overwrite(ledger, at, 2);
        break;
    }
    }

    server().start();
    Terminal restarted(conninfo(), store);
    QString trouble;
    const QString expected =
        GetParam() == Damage::RecordLine ? TroubleText::recordRecovered() : TroubleText::storeRecovered(3);
    EXPECT_EQ(restarted.link->notice(), expected);
    ASSERT_TRUE(
        waitWithEvents([&] { return restarted.link->waitingCount() == 0 && !logLines().isEmpty(); }, 30000))
        << restarted.link->waitingCount();
    EXPECT_EQ(rows(),
              QStringLiteral("0101|2026-03-02 08:00:00 0102|2026-03-02 08:00:10 0103|2026-03-02 08:00:20"));
    // Named in the log, kept aside for inspection.
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(GetParam() == Damage::RecordLine ? QFile::encodeName(ledger)
                                                                   : QFile::encodeName(store)))
        << lines[0].constData();
    EXPECT_TRUE(lines[0].contains(".damaged")) << lines[0].constData();
    EXPECT_TRUE(
        QFile::exists((GetParam() == Damage::RecordLine ? ledger : store) + QStringLiteral(".damaged")));

    // Started once more: all is sound now, nothing is said or sent again.
    restarted.link.reset();
    Terminal again(conninfo(), store);
    EXPECT_EQ(again.link->notice(), QString());
    QThread::msleep(500);
    QCoreApplication::processEvents();
    EXPECT_EQ(logLines().size(), 1);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("3"));
}

INSTANTIATE_TEST_SUITE_P(Overwritten, StoreDamageTest,
                         ::testing::Values(Damage::LogMiddle, Damage::LogLastFrame, Damage::StoreRow,
                                           Damage::RecordLine));

class StoreLogTest : public ServerSuite
{
protected:
    void SetUp() override
    {
        TestSupport::coreApplication();
        ServerSuite::SetUp();
    }
};

TEST_F(StoreLogTest, TheStoresLogDeletedUnderTheRunningTerminalLosesNothing)
{
    const QString live = tempPath("store.sqlite");
    const QString store = tempPath("killed.sqlite");
    {
        Terminal terminal(conninfo(), live);
        ASSERT_EQ(terminal.link->loadEmployees(&terminal.employees), DevSchema::demoEmployees().size());
        server().stop();
        // A clean-up that deletes "*-wal" files.
        ASSERT_TRUE(QFile::remove(live + QStringLiteral("-wal")));
        EXPECT_EQ(terminal.swipe("0101", "2026-03-02 08:00:00").kind, Kind::Recorded);
        EXPECT_EQ(terminal.swipe("0102", "2026-03-02 08:00:10").kind, Kind::Recorded);
        // Said at once.
        EXPECT_EQ(terminal.link->notice(), TroubleText::storeLogGone());
        ASSERT_TRUE(waitWithEvents([&] { return logLines().size() == 1; }, 5000))
            << logLines().join("\n").constData();
        EXPECT_TRUE(logLines()[0].contains("-wal) was deleted")) << logLines()[0].constData();
        // Killed: what the deleted log holds is gone with the process.
        for (const char* suffix : {"", ".ledger"})
            copyFile(live + QString::fromLatin1(suffix), store + QString::fromLatin1(suffix));
    }
    server().start();
    Terminal restarted(conninfo(), store);
    ASSERT_TRUE(waitWithEvents(
        [&] {
            return restarted.link->waitingCount() == 0 &&
                   psql(QStringLiteral("SELECT count(*) FROM sgdjb")) == QStringLiteral("2");
        },
        30000));
    EXPECT_EQ(
        psql(QStringLiteral("SELECT string_agg(num || '|' || (d + t)::text, ' ' ORDER BY d + t) FROM sgdjb")),
        QStringLiteral("0101|2026-03-02 08:00:00 0102|2026-03-02 08:00:10"));
}

TEST_F(StoreLogTest, ALockThatHoldsUpSwipesIsLoggedOnceWhenItStartsAndOnceWhenItEnds)
{
    Terminal terminal(conninfo(), tempPath("store.sqlite"));
    ASSERT_EQ(terminal.link->loadEmployees(&terminal.employees), DevSchema::demoEmployees().size());
    // The management software holds the table for a while.
    std::thread holder([] {
        psql(QStringLiteral("BEGIN; LOCK TABLE sgdjb IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(6); COMMIT;"));
    });
    ASSERT_TRUE(TestSupport::waitUntil(
        [] {
            return psql(QStringLiteral("SELECT count(*) FROM pg_locks WHERE relation = 'sgdjb'::regclass AND "
                                       "mode = 'AccessExclusiveLock' AND granted")) == QStringLiteral("1");
        },
        5000));
    EXPECT_EQ(terminal.swipe("0101", "2026-03-02 08:00:00").kind, Kind::Recorded);
    EXPECT_EQ(terminal.swipe("0102", "2026-03-02 08:00:05").kind, Kind::Recorded);
    const auto lines = [&](const char* containing) {
        int count = 0;
        for (const QByteArray& line : logLines())
            count += line.contains(containing) ? 1 : 0;
        return count;
    };
    ASSERT_TRUE(waitWithEvents([&] { return lines("holds up the waiting swipes") == 1; }, 5000));
    holder.join();
    ASSERT_TRUE(waitWithEvents(
        [&] { return terminal.link->waitingCount() == 0 && lines("was released") == 1; }, 20000));
    EXPECT_EQ(lines("holds up the waiting swipes"), 1);
    EXPECT_EQ(logLines().size(), 2);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("2"));
}

} // namespace
