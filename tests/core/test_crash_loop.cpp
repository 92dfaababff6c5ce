// Swiping processes killed with SIGKILL at random moments, round after round, two at a
// time on one database: every swipe a process acknowledged before it died must be in the
// file, the file must stay intact, and no employee may have two records within the
// duplicate window.

#include "attendance/CardSwipe.h"
#include "attendance/SwipeWindow.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSet>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <random>

namespace {

const QString kDriver = QStringLiteral(TAVELO_TEST_DRIVER_DIR "/swipe_loop");
constexpr int kRounds = 40;
constexpr int kDriversPerRound = 2;
// Kills land anywhere from before the driver has started to well into its swipes.
constexpr int kLongestLifeMs = 400;
constexpr int kStepsPerRound = 100000;

struct Ack
{
    QString num;
    qint64 instant = 0;
};

class Driver
{
public:
    Driver(const QString& database, qint64 firstStep)
    {
        m_process.start(kDriver, {database, QString::number(firstStep)});
    }

    bool started() { return m_process.waitForStarted(10000); }

    // Lets it run until the deadline, then kills it; false when it ended on its own.
    bool killAt(const QElapsedTimer& clock, qint64 deadlineMs)
    {
        const qint64 left = deadlineMs - clock.elapsed();
        if (left > 0 && m_process.waitForFinished(int(left)))
            return false;
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
        return true;
    }

    // Only whole lines were acknowledged; a line cut by the kill was not.
    QList<QByteArray> lines()
    {
        QByteArray out = m_process.readAllStandardOutput();
        const qsizetype end = out.lastIndexOf('\n');
        out.truncate(end + 1);
        return out.split('\n');
    }

private:
    QProcess m_process;
};

TEST(CrashLoop, AcknowledgedSwipesSurviveSigkillAndNoneIsDoubled)
{
    TestSupport::DevDatabase db(5);

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> lifeMs(0, kLongestLifeMs);
    QList<Ack> acks;
    int killedMidway = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<Driver>> drivers;
        for (int d = 0; d < kDriversPerRound; ++d) {
            drivers.push_back(std::make_unique<Driver>(db.path(), qint64(round) * kStepsPerRound));
            ASSERT_TRUE(drivers.back()->started()) << kDriver.toStdString();
        }
        QElapsedTimer clock;
        clock.start();
        for (auto& driver : drivers) {
            const bool killed = driver->killAt(clock, lifeMs(random));
            ASSERT_TRUE(killed) << "a driver finished all its steps before its kill";
            int recorded = 0;
            for (const QByteArray& line : driver->lines()) {
                const QList<QByteArray> fields = line.split(' ');
                if (fields.value(0) == "R" && fields.size() == 4) {
                    acks.append({QString::fromUtf8(fields[2]), fields[3].toLongLong()});
                    ++recorded;
                }
            }
            if (recorded > 0)
                ++killedMidway;
        }
    }

    EXPECT_EQ(db.text(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    // The drivers switched the file to the write-ahead log: the kills landed there.
    EXPECT_EQ(db.text(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));
    QSet<QString> stored;
    for (const QString& row : db.rows(QStringLiteral("SELECT num, D + T FROM sgdjb")))
        stored.insert(row);
    int lost = 0;
    for (const Ack& ack : acks) {
        if (!stored.contains(QStringLiteral("%1|%2").arg(ack.num).arg(ack.instant))) {
            ++lost;
            ADD_FAILURE() << "acknowledged swipe lost: " << ack.num.toStdString() << " at " << ack.instant;
        }
    }
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb a JOIN sgdjb b ON a.num = b.num AND "
                                       "a.rowid < b.rowid AND abs((a.D + a.T) - (b.D + b.T)) < %1")
                            .arg(SwipeWindow::kSeconds)),
              0);
    std::printf("[ crash    ] %d rounds, %d drivers killed after acknowledging, %lld acknowledged, %d lost, "
                "%lld stored\n",
                kRounds, killedMidway, static_cast<long long>(acks.size()), lost,
                static_cast<long long>(stored.size()));
    // Most kills must have landed after swipes had started, or the test proves little.
    EXPECT_GT(killedMidway, kRounds / 2);
}

} // namespace
