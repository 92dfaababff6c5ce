// A terminal whose server goes away, against a real throwaway PostgreSQL server: swipes
// are kept with their own instants and reach the server once when it is back, whatever
// dies in between.

#include "attendance/AttendanceLink.h"
#include "attendance/LocalStore.h"
#include "interchange/DevSchema.h"
#include "log/ErrMsgForm.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/ConnectionString.h"
#include "query/Statements.h"
#include "support/LinkedTerminal.h"
#include "support/ManualClock.h"
#include "support/ServerSuite.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>

namespace {

using Kind = SwipeOutcome::Kind;

using TestSupport::clockAt;
using TestSupport::waitUntil;

using Terminal = TestSupport::LinkedTerminal;

class OfflineServerTest : public ServerSuite
{
protected:
    QString store(const char* name) const { return tempPath(name); }
    // num|d + t|opdate of every record, by instant.
    static QString rows()
    {
        return psql(
            QStringLiteral("SELECT string_agg(num || '|' || (d + t)::text || '|' || opdate::text, ' ' "
                           "ORDER BY d + t, num) FROM sgdjb"));
    }
};

TEST_F(OfflineServerTest, SwipesWhileTheServerIsDownArriveWithTheirOwnInstants)
{
    // The real pauses between tries: the rows must come within 30 s of the server's return.
    Terminal terminal(conninfo(), store("a.sqlite"), AttendanceLink::Options());
    ASSERT_EQ(terminal.link->loadEmployees(&terminal.employees), DevSchema::demoEmployees().size());
    EXPECT_EQ(terminal.swipe(QStringLiteral("0104"), "2026-03-02 08:20:00").kind, Kind::Recorded);

    server().stop();
    const SwipeOutcome first = terminal.swipe(QStringLiteral("0101"), "2026-03-02 08:30:15");
    EXPECT_EQ(first.kind, Kind::Recorded);
    EXPECT_TRUE(first.statusText.endsWith(QStringLiteral("】 2026-03-02 08:30 刷卡成功！")))
        << first.statusText.toStdString();
    EXPECT_TRUE(terminal.link->isOffline());
    // The duplicate rule holds offline: against the queue and against what the server holds.
    const SwipeOutcome again = terminal.swipe(QStringLiteral("0101"), "2026-03-02 08:31:00");
    EXPECT_EQ(again.kind, Kind::AlreadyRecorded);
    EXPECT_TRUE(again.statusText.endsWith(QStringLiteral("】 2026-03-02 08:30 已刷卡")));
    EXPECT_EQ(terminal.swipe(QStringLiteral("0104"), "2026-03-02 08:22:59").kind, Kind::AlreadyRecorded);
    EXPECT_EQ(terminal.swipe(QStringLiteral("0102"), "2026-03-02 08:31:16").kind, Kind::Recorded);
    EXPECT_EQ(terminal.link->waitingCount(), 2);
    EXPECT_TRUE(logLines().isEmpty()) << "a swipe logs nothing";

    server().start();
    QElapsedTimer back;
    back.start();
    ASSERT_TRUE(terminal.settled(30000));
    EXPECT_LT(back.elapsed(), 30000);
    EXPECT_EQ(rows(),
              QStringLiteral("0104|2026-03-02 08:20:00|1999-01-01 0101|2026-03-02 08:30:15|1999-01-01 "
                             "0102|2026-03-02 08:31:16|1999-01-01"));

    // Back online, a swipe goes straight to the server again.
    EXPECT_EQ(terminal.swipe(QStringLiteral("0103"), "2026-03-02 08:40:00").kind, Kind::Recorded);
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0103'")), QStringLiteral("1"));
    EXPECT_EQ(terminal.link->waitingCount(), 0);
}

// A store found damaged at start is moved aside (one log line names where) and a new one
// made; a store deleted while the terminal runs is made again before the next queued swipe.
// Either way the swipes queued afterwards reach the server, once each.
TEST_F(OfflineServerTest, DamagedAndDeletedStoresKeepLaterSwipesWhichArriveOnce)
{
    // The forwarder's log lines reach the log through the window's event loop.
    int argc = 1;
    char name[] = "test_offline_server";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const QString storePath = store("damaged.sqlite");
    TestSupport::writeFile(storePath, QByteArray(8192, '\x5a'));
    Terminal terminal(conninfo(), storePath);
    EXPECT_TRUE(terminal.link->storeTrouble().isEmpty());
    ASSERT_TRUE(QFile::exists(storePath + QStringLiteral(".damaged")));
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QFile::encodeName(storePath + QStringLiteral(".damaged"))))
        << lines[0].toStdString();
    ASSERT_GT(terminal.link->loadEmployees(&terminal.employees), 0);

    server().stop();
    EXPECT_EQ(terminal.swipe(QStringLiteral("0101"), "2026-03-02 08:30:00").kind, Kind::Recorded);
    EXPECT_EQ(terminal.link->waitingCount(), 1);
    server().start();
    ASSERT_TRUE(terminal.settled());

    // Deleted with a swipe waiting in it: the next swipe finds it gone, makes it again and
    // carries the waiting one over.
    server().stop();
    EXPECT_EQ(terminal.swipe(QStringLiteral("0102"), "2026-03-02 08:40:00").kind, Kind::Recorded);
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(storePath + QLatin1String(suffix));
    const SwipeOutcome queued = terminal.swipe(QStringLiteral("0103"), "2026-03-02 08:40:05");
    EXPECT_EQ(queued.kind, Kind::Recorded) << queued.errorMessage.toStdString();
    EXPECT_TRUE(QFile::exists(storePath));
    EXPECT_EQ(LocalStore(storePath, LocalStore::Access::ReadOnly).waitingCount(), 2);
    server().start();
    ASSERT_TRUE(terminal.settled());
    EXPECT_EQ(rows(),
              QStringLiteral("0101|2026-03-02 08:30:00|1999-01-01 0102|2026-03-02 08:40:00|1999-01-01 "
                             "0103|2026-03-02 08:40:05|1999-01-01"));
    // One line, from whichever of the terminal's two handles on the store found it gone.
    QDeadlineTimer deadline(5000);
    while (logLines().size() < 2 && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    const QList<QByteArray> after = logLines();
    ASSERT_EQ(after.size(), 2) << after.join("\n").constData();
    EXPECT_TRUE(after[1].contains("queued again")) << after[1].toStdString();
}

// The outbox on a full disk: the swipe is not kept and says so, for the employee who
// swiped, instead of a success; once there is room again the next one is kept and sent.
TEST_F(OfflineServerTest, FullStoreFailsTheSwipeVisibly)
{
    ASSERT_EQ(::geteuid(), 0u) << "mounting the tiny file system needs root, as the tests run in CI";
    const QString folder = store("tiny");
    const QByteArray where = QFile::encodeName(folder);
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::mount("tavelo-test", where.constData(), "tmpfs", 0, "size=512k,mode=0700"), 0)
        << std::strerror(errno);
    const auto unmount = qScopeGuard([&] {
        if (::umount(where.constData()) != 0)
            ::umount2(where.constData(), MNT_DETACH);
    });
    {
        Terminal terminal(conninfo(), folder + QStringLiteral("/store.sqlite"));
        ASSERT_GT(terminal.link->loadEmployees(&terminal.employees), 0);
        server().stop();
        const QString filler = folder + QStringLiteral("/filler");
        {
            QFile file(filler);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (file.write(block) == block.size() && file.flush()) {
            }
        }
        const SwipeOutcome full = terminal.swipe(QStringLiteral("0101"), "2026-03-02 08:30:00");
        EXPECT_EQ(full.kind, Kind::Nothing);
        EXPECT_TRUE(full.statusText.isEmpty());
        EXPECT_EQ(full.reason, QStringLiteral("本地存储无法写入（磁盘已满）"))
            << full.errorMessage.toStdString();
        EXPECT_TRUE(full.failedText.startsWith(QStringLiteral("【0101 ")));
        EXPECT_TRUE(full.failedText.endsWith(QStringLiteral("】 2026-03-02 08:30 刷卡失败！")));

        ASSERT_TRUE(QFile::remove(filler));
        EXPECT_EQ(terminal.swipe(QStringLiteral("0102"), "2026-03-02 08:30:05").kind, Kind::Recorded);
        server().start();
        ASSERT_TRUE(terminal.settled());
    }
    EXPECT_EQ(rows(), QStringLiteral("0102|2026-03-02 08:30:05|1999-01-01"));
}

// The instant stored is the one read when the card was presented, however long the wait
// for the server that went away.
TEST_F(OfflineServerTest, TheInstantIsReadWhenTheCardIsPresented)
{
    Terminal terminal(conninfo(), store("a.sqlite"));
    ASSERT_GT(terminal.link->loadEmployees(&terminal.employees), 0);
    server().stop();
    // A clock that moves a second on from every reading: a swipe reading it more than
    // once would store a later second than the first.
    class Running : public Clock
    {
    public:
        QDateTime now() const override
        {
            const QDateTime value = m_now;
            m_now = m_now.addSecs(1);
            return value;
        }
        mutable QDateTime m_now{QDate(2026, 3, 2), QTime(8, 30, 51, 800), Qt::UTC};
    } clock;
    ASSERT_TRUE(terminal.employees.locate(Statements::kNum, QStringLiteral("0101")));
    const SwipeOutcome outcome = terminal.link->swipe(&terminal.employees, terminal.records, clock);
    EXPECT_EQ(outcome.kind, Kind::Recorded);
    server().start();
    ASSERT_TRUE(terminal.settled());
    EXPECT_EQ(rows(), QStringLiteral("0101|2026-03-02 08:30:51|1999-01-01"));
}

TEST_F(OfflineServerTest, TwoTerminalsOfflineForOneEmployeeLeaveOneRow)
{
    Terminal a(conninfo(), store("a.sqlite"));
    Terminal b(conninfo(), store("b.sqlite"));
    ASSERT_GT(a.link->loadEmployees(&a.employees), 0);
    ASSERT_GT(b.link->loadEmployees(&b.employees), 0);

    server().stop();
    // Neither knows of the other's swipe: each queues its own.
    EXPECT_EQ(a.swipe(QStringLiteral("0101"), "2026-03-02 08:30:00").kind, Kind::Recorded);
    EXPECT_EQ(b.swipe(QStringLiteral("0101"), "2026-03-02 08:31:00").kind, Kind::Recorded);
    EXPECT_EQ(b.swipe(QStringLiteral("0102"), "2026-03-02 08:31:00").kind, Kind::Recorded);
    server().start();
    ASSERT_TRUE(a.settled());
    ASSERT_TRUE(b.settled());
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0101'")), QStringLiteral("1"));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0102'")), QStringLiteral("1"));
}

TEST_F(OfflineServerTest, ForwardThatDiesAfterTheServerCommitSendsNothingTwice)
{
    Terminal terminal(conninfo(), store("a.sqlite"));
    ASSERT_GT(terminal.link->loadEmployees(&terminal.employees), 0);
    std::atomic<int> commits{0};
    terminal.link->setAfterCommitHook([&](const StoredSwipe&) {
        if (++commits == 1)
            throw std::runtime_error("died between the server's commit and the outbox update");
    });

    server().stop();
    EXPECT_EQ(terminal.swipe(QStringLiteral("0101"), "2026-03-02 08:30:00").kind, Kind::Recorded);
    EXPECT_EQ(terminal.swipe(QStringLiteral("0102"), "2026-03-02 08:30:01").kind, Kind::Recorded);
    server().start();
    ASSERT_TRUE(terminal.settled());
    EXPECT_GE(commits.load(), 2);
    EXPECT_EQ(rows(),
              QStringLiteral("0101|2026-03-02 08:30:00|1999-01-01 0102|2026-03-02 08:30:01|1999-01-01"));
}

TEST_F(OfflineServerTest, StartWithoutTheServerLoadsTheCopy)
{
    {
        Terminal online(conninfo(), store("a.sqlite"));
        ASSERT_EQ(online.link->loadEmployees(&online.employees), DevSchema::demoEmployees().size());
        ASSERT_TRUE(waitUntil([&] { return LocalStore(store("a.sqlite")).hasEmployeeCopy(); }, 10000));
    }
    server().stop();

    Terminal offline(conninfo(), store("a.sqlite"));
    EXPECT_EQ(offline.link->loadEmployees(&offline.employees), DevSchema::demoEmployees().size());
    EXPECT_TRUE(offline.link->isOffline());
    EXPECT_EQ(offline.employees.valueAsString(0, offline.employees.fieldIndex(QStringLiteral("num"))),
              DevSchema::demoEmployees().first().num);
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines[0].contains("could not be reached")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("SELECT * FROM employ"));

    // The quick search and the swipe work on the copy.
    EXPECT_EQ(offline.swipe(QStringLiteral("0103"), "2026-03-02 09:00:00").kind, Kind::Recorded);
    server().start();
    ASSERT_TRUE(offline.settled());
    EXPECT_EQ(rows(), QStringLiteral("0103|2026-03-02 09:00:00|1999-01-01"));

    // No copy yet: as without a database, one line and an empty list.
    server().stop();
    Terminal fresh(conninfo(), store("fresh.sqlite"));
    EXPECT_EQ(fresh.link->loadEmployees(&fresh.employees), -1);
    EXPECT_FALSE(fresh.employees.isOpen());
    EXPECT_EQ(logLines().size(), 2);
}

TEST_F(OfflineServerTest, KilledTerminalSendsItsSwipesOnceAfterItsRestart)
{
    const QString storePath = store("killed.sqlite");
    const QString driver = QStringLiteral(TAVELO_TEST_DRIVER_DIR "/offline_terminal");
    {
        Terminal online(conninfo(), storePath);
        ASSERT_GT(online.link->loadEmployees(&online.employees), 0);
        ASSERT_TRUE(waitUntil([&] { return LocalStore(storePath).hasEmployeeCopy(); }, 10000));
    }
    server().stop();

    QProcess terminal;
    terminal.start(driver, {conninfo(), storePath, QStringLiteral("--swipe"), QStringLiteral("0101"),
                            QStringLiteral("2026-03-02 08:30:00"), QStringLiteral("--swipe"),
                            QStringLiteral("0102"), QStringLiteral("2026-03-02 08:30:05")});
    ASSERT_TRUE(terminal.waitForStarted(10000));
    QByteArray out;
    ASSERT_TRUE(waitUntil(
        [&] {
            terminal.waitForReadyRead(50);
            out += terminal.readAllStandardOutput();
            return out.count("刷卡成功") == 2 && out.contains("offline waiting 2");
        },
        20000))
        << out.toStdString();
    terminal.kill(); // SIGKILL: no destructor, no clean-up
    ASSERT_TRUE(terminal.waitForFinished(10000));

    server().start();
    for (int run = 0; run < 2; ++run) {
        QProcess restarted;
        restarted.start(driver, {conninfo(), storePath, QStringLiteral("--exit-when-sent")});
        ASSERT_TRUE(restarted.waitForFinished(40000)) << restarted.readAllStandardOutput().toStdString();
        EXPECT_EQ(restarted.exitCode(), 0);
    }
    EXPECT_EQ(rows(),
              QStringLiteral("0101|2026-03-02 08:30:00|1999-01-01 0102|2026-03-02 08:30:05|1999-01-01"));
    EXPECT_EQ(LocalStore(storePath).waitingCount(), 0);
}

} // namespace

TEST_F(OfflineServerTest, ARefusingServerIsLoggedOnceWhileTheSwipesWait)
{
    // The refusal reaches the log through the window's event loop.
    int argc = 1;
    char name[] = "test_offline_server";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const auto waitWithEvents = [](const std::function<bool()>& done, int ms) {
        return waitUntil(
            [&] {
                QCoreApplication::processEvents();
                return done();
            },
            ms);
    };

    server().createDatabase(QStringLiteral("frozen"));
    const QString target = server().conninfo(QStringLiteral("frozen"));
    QString error;
    ASSERT_TRUE(DevSchema::createServerDatabase(target, DevSchema::demoEmployees(), &error))
        << error.toStdString();
    const auto frozen = [&](const QString& sql) { return server().psql(sql, QStringLiteral("frozen")); };

    Terminal terminal(target, store("a.sqlite"));
    ASSERT_GT(terminal.link->loadEmployees(&terminal.employees), 0);
    // The table moved away for an audit: not these swipes' fault (a refusal of a swipe
    // itself sets it aside instead, see the refused swipe tests); they wait.
    frozen(QStringLiteral("ALTER TABLE sgdjb RENAME TO sgdjb_audit"));
    server().stop();
    EXPECT_EQ(terminal.swipe(QStringLiteral("0101"), "2026-03-02 08:30:15").kind, Kind::Recorded);
    EXPECT_EQ(terminal.swipe(QStringLiteral("0102"), "2026-03-02 08:31:00").kind, Kind::Recorded);
    server().start();

    // Many tries at the short test pauses, one line.
    ASSERT_TRUE(waitWithEvents([&] { return !logLines().isEmpty(); }, 10000));
    QThread::msleep(1500);
    QCoreApplication::processEvents();
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').constData();
    EXPECT_TRUE(lines.first().contains("no table sgdjb")) << lines.first().constData();
    EXPECT_TRUE(lines.first().contains("forwarding queued swipes")) << lines.first().constData();
    EXPECT_EQ(terminal.link->waitingCount(), 2);
    EXPECT_EQ(terminal.link->refusedCount(), 0);
    EXPECT_EQ(frozen(QStringLiteral("SELECT count(*) FROM sgdjb_audit")), QStringLiteral("0"));

    // Once the server accepts them, they arrive and nothing more is logged.
    frozen(QStringLiteral("ALTER TABLE sgdjb_audit RENAME TO sgdjb"));
    ASSERT_TRUE(waitWithEvents([&] { return terminal.link->waitingCount() == 0; }, 10000));
    EXPECT_EQ(frozen(QStringLiteral("SELECT string_agg(num, ' ' ORDER BY num) FROM sgdjb")),
              QStringLiteral("0101 0102"));
    EXPECT_EQ(logLines().size(), 1);
}
