#include "attendance/CardSwipe.h"
#include "attendance/SwipeWindow.h"
#include "support/ManualClock.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kTerminals = 2;
constexpr int kRounds = 150;
// Further apart than the window, so every round must record exactly once.
constexpr int kRoundSpacingSecs = SwipeWindow::kSeconds + 20;

struct Shared
{
    pthread_barrier_t start;
    int outcome[kTerminals][kRounds];
};

void createDatabase(const QString& path)
{
    TestSupport::SqliteFile(path, TestSupport::SqliteFile::Mode::Create)
        .exec(TestSupport::schemaSql() +
              QStringLiteral(";INSERT INTO employ VALUES ('1001', '张三', '01');"));
}

// One terminal: its own connection, opened after the fork, swiping at the shared moments.
[[noreturn]] void runTerminal(const QString& path, Shared* shared, int terminal)
{
    TestSupport::TerminalQueries queries(TestSupport::jetConnectionString(path));
    int status = 0;
    try {
        queries.load();
    } catch (...) {
        status = 2;
    }
    ManualClock clock;
    const QDateTime start(QDate(2026, 3, 2), QTime(7, 0), Qt::UTC);
    for (int round = 0; round < kRounds; ++round) {
        clock.set(start.addSecs(qint64(round) * kRoundSpacingSecs));
        pthread_barrier_wait(&shared->start);
        shared->outcome[terminal][round] =
            int(CardSwipe::run(&queries.employees, queries.records, clock).kind);
    }
    _exit(status);
}

std::vector<qint64> storedInstants(const QString& path)
{
    std::vector<qint64> instants;
    for (const QString& row : TestSupport::SqliteFile(path).rows(
             QStringLiteral("SELECT D + T FROM sgdjb WHERE num = '1001' ORDER BY 1")))
        instants.push_back(row.toLongLong());
    return instants;
}

TEST(SwipeConcurrency, TwoTerminalsSwipingTheSameEmployeeAtOnceRecordOneRow)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("kq.mdb"));
    createDatabase(path);

    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* shared = new (memory) Shared{};
    pthread_barrierattr_t attr;
    pthread_barrierattr_init(&attr);
    pthread_barrierattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_barrier_init(&shared->start, &attr, kTerminals);
    pthread_barrierattr_destroy(&attr);

    std::vector<pid_t> children;
    for (int terminal = 0; terminal < kTerminals; ++terminal) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            runTerminal(path, shared, terminal);
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "terminal status " << status;
    }

    for (int round = 0; round < kRounds; ++round) {
        std::vector<int> kinds;
        for (int terminal = 0; terminal < kTerminals; ++terminal)
            kinds.push_back(shared->outcome[terminal][round]);
        std::sort(kinds.begin(), kinds.end());
        // The terminal that lost the race waits for the lock and then finds the winner's row.
        EXPECT_EQ(kinds, (std::vector<int>{int(SwipeOutcome::Kind::Recorded),
                                           int(SwipeOutcome::Kind::AlreadyRecorded)}))
            << "round " << round;
    }

    const std::vector<qint64> instants = storedInstants(path);
    EXPECT_EQ(instants.size(), size_t(kRounds));
    for (size_t i = 1; i < instants.size(); ++i)
        EXPECT_GE(instants[i] - instants[i - 1], SwipeWindow::kSeconds) << "rows " << i - 1 << ", " << i;

    pthread_barrier_destroy(&shared->start);
    munmap(memory, sizeof(Shared));
}

} // namespace
