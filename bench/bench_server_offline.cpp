// A swipe queued in the outbox while the server cannot be reached, against the file back
// end's swipe (the same duplicate test, insert and synced commit, both files in /tmp), and
// forwarding 10,000 queued swipes to a local PostgreSQL server, and the server's part of
// that alone (the batches' transactions, without the local store). Also what the second, checked
// copy of each swipe (the ledger beside the store) costs: one synced append on its own, a
// confirmed swipe kept after an online swipe, and the comparison of store and ledger that
// precedes each forwarding round, with 1,000 swipes in each.

#include "attendance/CardSwipe.h"
#include "attendance/LocalStore.h"
#include "attendance/OutboxForwarder.h"
#include "attendance/OutboxSwipe.h"
#include "attendance/ServerIdentity.h"
#include "attendance/ServerSwipeBatch.h"
#include "attendance/SwipeLedger.h"
#include "interchange/DevSchema.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"
#include "support/LinkedTerminal.h"
#include "support/ManualClock.h"
#include "support/PgTestServer.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr int kEmployees = 1000;

struct Terminal
{
    explicit Terminal(const QString& connectionString)
    {
        connection.setConnectionString(connectionString);
        employees.setConnection(&connection);
        records.setConnection(&connection);
        employees.sqlAdd(QStringLiteral("SELECT * FROM employ"));
        employees.open();
    }
    // The next employee, and a clock past the previous round's window.
    void next()
    {
        if (employees.recNo() + 1 >= employees.recordCount()) {
            employees.setRecNo(0);
            clock.advanceSecs(600);
        } else {
            employees.setRecNo(employees.recNo() + 1);
        }
    }

    AdoConnection connection;
    AdoQuery employees{QStringLiteral("YgQry")};
    AdoQuery records{QStringLiteral("RecordQry")};
    ManualClock clock{QDateTime(QDate(2026, 3, 2), QTime(7, 0), Qt::UTC)};
};

QString fileDatabase(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("kq.mdb"));
    QString error;
    if (!DevSchema::createDatabase(path, DevSchema::generatedEmployees(kEmployees), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::abort();
    }
    return path;
}

void BM_FileSwipe(benchmark::State& state)
{
    QTemporaryDir dir(QStringLiteral("/tmp/tavelo-bench-XXXXXX"));
    Terminal terminal(ConnectionString::forFile(fileDatabase(dir)));
    for (auto _ : state) {
        if (CardSwipe::run(&terminal.employees, terminal.records, terminal.clock).kind !=
            SwipeOutcome::Kind::Recorded)
            state.SkipWithError("swipe not recorded");
        terminal.next();
    }
}
BENCHMARK(BM_FileSwipe)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

void BM_OutboxSwipe(benchmark::State& state)
{
    QTemporaryDir dir(QStringLiteral("/tmp/tavelo-bench-XXXXXX"));
    Terminal terminal(ConnectionString::forFile(fileDatabase(dir)));
    LocalStore store(dir.filePath(QStringLiteral("store.sqlite")));
    for (auto _ : state) {
        if (OutboxSwipe::run(&terminal.employees, store, terminal.clock).kind != SwipeOutcome::Kind::Recorded)
            state.SkipWithError("swipe not queued");
        terminal.next();
    }
}
BENCHMARK(BM_OutboxSwipe)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

StoredSwipe benchSwipe(int i)
{
    StoredSwipe swipe;
    swipe.num = QStringLiteral("%1").arg(i % kEmployees, 4, 10, QLatin1Char('0'));
    swipe.name = QStringLiteral("员工");
    swipe.date = QDate(2026, 3, 2);
    swipe.time = QTime(7, 0).addSecs(600 * (i / kEmployees) % 36000);
    swipe.opdate = QStringLiteral("1999-01-01");
    return swipe;
}

// The second record of a queued swipe on its own: one line, written and synced.
void BM_LedgerAppend(benchmark::State& state)
{
    QTemporaryDir dir(QStringLiteral("/tmp/tavelo-bench-XXXXXX"));
    const SwipeLedger ledger(dir.filePath(QStringLiteral("store.sqlite.ledger")));
    int i = 0;
    for (auto _ : state)
        ledger.append({{SwipeLedger::State::Waiting, benchSwipe(i++), {}, 0}});
}
BENCHMARK(BM_LedgerAppend)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

// What an online swipe adds once the server confirmed it: kept in the store and the ledger.
void BM_RetainConfirmed(benchmark::State& state)
{
    QTemporaryDir dir(QStringLiteral("/tmp/tavelo-bench-XXXXXX"));
    LocalStore store(dir.filePath(QStringLiteral("store.sqlite")));
    int i = 0;
    const QDateTime at(QDate(2026, 3, 2), QTime(7, 0), Qt::UTC);
    for (auto _ : state)
        store.retain({benchSwipe(i++)}, QStringLiteral("2026-03-02 06:00:00+00 primary local -"), at);
}
BENCHMARK(BM_RetainConfirmed)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

// The comparison of store and ledger before a forwarding round, 1,000 waiting and 1,000
// confirmed swipes in each.
void BM_VerifyStore(benchmark::State& state)
{
    QTemporaryDir dir(QStringLiteral("/tmp/tavelo-bench-XXXXXX"));
    LocalStore store(dir.filePath(QStringLiteral("store.sqlite")));
    {
        LocalStore::WriteTransaction transaction(store);
        for (int i = 0; i < kEmployees; ++i)
            store.enqueue(benchSwipe(i));
        transaction.commit();
    }
    std::vector<StoredSwipe> confirmed;
    for (int i = kEmployees; i < 2 * kEmployees; ++i)
        confirmed.push_back(benchSwipe(i));
    store.retain(confirmed, QStringLiteral("server"), QDateTime(QDate(2026, 3, 2), QTime(7, 0), Qt::UTC));
    for (auto _ : state) {
        store.verify();
        if (store.takeDamage())
            state.SkipWithError("found damage");
    }
}
BENCHMARK(BM_VerifyStore)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// What a forwarding round of 10,000 swipes costs the store once the server has committed
// them: out of the outbox and retained, in the store and the ledger, in one synced
// transaction.
void BM_ConfirmRound(benchmark::State& state)
{
    constexpr int kRound = 10000;
    QTemporaryDir dir(QStringLiteral("/tmp/tavelo-bench-XXXXXX"));
    LocalStore store(dir.filePath(QStringLiteral("store.sqlite")));
    const QDateTime at(QDate(2026, 3, 2), QTime(7, 0), Qt::UTC);
    for (auto _ : state) {
        state.PauseTiming();
        {
            LocalStore::WriteTransaction transaction(store);
            for (int i = 0; i < kRound; ++i)
                store.enqueue(benchSwipe(i));
            transaction.commit();
        }
        const std::vector<StoredSwipe> round = store.oldest(kRound);
        state.ResumeTiming();
        store.confirm(round, QStringLiteral("2026-03-02 06:00:00+00 primary local -"), at);
    }
    state.SetItemsProcessed(state.iterations() * kRound);
}
BENCHMARK(BM_ConfirmRound)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// A catch-up's queue: 10,000 swipes of 1,000 employees, ten rounds ten minutes apart, in
// the order they were queued (ids from 1).
std::vector<StoredSwipe> catchUpQueue()
{
    constexpr int kWaiting = 10000;
    const QList<DevSchema::Employee> employees = DevSchema::generatedEmployees(kEmployees);
    std::vector<StoredSwipe> swipes;
    for (int i = 0; i < kWaiting; ++i) {
        StoredSwipe swipe;
        swipe.id = i + 1;
        swipe.num = employees.at(i % kEmployees).num;
        swipe.name = employees.at(i % kEmployees).name;
        swipe.date = QDate(2026, 3, 2);
        swipe.time = QTime(7, 0).addSecs(600 * (i / kEmployees));
        swipe.opdate = QStringLiteral("1999-01-01");
        swipes.push_back(swipe);
    }
    return swipes;
}

// A throwaway server of the benchmark's own; none (and the benchmark skipped) when it
// cannot start.
std::unique_ptr<PgTestServer> startServer(benchmark::State& state)
{
    try {
        return std::make_unique<PgTestServer>();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

// Emptied in place, as a long-lived table is, and without the dead rows of the last round:
// TRUNCATE would give it new files, whose making (the free space map's among them, made by
// the inserting backend) would be timed and varies with the file system's state.
void emptyAttendance(PgTestServer& server)
{
    server.psql(QStringLiteral("DELETE FROM sgdjb"));
    server.psql(QStringLiteral("VACUUM sgdjb"));
}

// A store holding the queue and nothing else, as a terminal's is after an outage (the
// swipes it confirmed before have long been let go of): made anew at that path.
void queueInNewStore(const QString& storePath, const std::vector<StoredSwipe>& swipes)
{
    for (const QString& file : {storePath, storePath + QStringLiteral("-wal"),
                                storePath + QStringLiteral("-shm"), SwipeLedger::pathFor(storePath)})
        QFile::remove(file);
    LocalStore store(storePath);
    LocalStore::WriteTransaction transaction(store);
    for (const StoredSwipe& swipe : swipes)
        store.enqueue(swipe);
    transaction.commit();
}

// Forwarding 10,000 queued swipes, and psql's \\copy of the same rows into the same table,
// one after the other in each round: `ratio` is the forward's time over the copy's.
void BM_Forward10000(benchmark::State& state)
{
    constexpr int kWaiting = 10000;
    const std::unique_ptr<PgTestServer> server = startServer(state);
    if (!server)
        return;
    server->psql(QStringLiteral(
        "CREATE TABLE employ (num varchar(10) NOT NULL, name varchar(20), dept_no varchar(10)); "
        "CREATE TABLE sgdjb (num varchar(10), name varchar(20), d date, t time(0), opdate date); "
        "CREATE INDEX sgdjb_num_instant ON sgdjb (num, (d + t))"));
    QTemporaryDir dir(QStringLiteral("/tmp/tavelo-bench-XXXXXX"));
    const QString storePath = dir.filePath(QStringLiteral("store.sqlite"));
    const std::vector<StoredSwipe> swipes = catchUpQueue();
    QByteArray csv;
    for (const StoredSwipe& swipe : swipes) {
        csv += (swipe.num + u',' + swipe.name + u',' + swipe.date.toString(Qt::ISODate) + u',' +
                swipe.time.toString(Qt::ISODate) + u',' + swipe.opdate + u'\n')
                   .toUtf8();
    }
    const QString csvPath = dir.filePath(QStringLiteral("rows.csv"));
    {
        QFile file(csvPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size()) {
            state.SkipWithError("cannot write the rows for psql");
            return;
        }
        // The server's user reads it through psql, which runs as this user.
    }
    qint64 forwardNs = 0;
    qint64 copyNs = 0;
    QElapsedTimer timer;
    for (auto _ : state) {
        state.PauseTiming();
        // Each round as a terminal meets it after an outage.
        emptyAttendance(*server);
        queueInNewStore(storePath, swipes);
        OutboxForwarder forwarder(ConnectionString::forServer(server->conninfo()), storePath);
        state.ResumeTiming();
        timer.start();
        const OutboxForwarder::Result result = forwarder.forwardAll();
        forwardNs += timer.nsecsElapsed();
        state.PauseTiming();
        if (result.forwarded != kWaiting)
            state.SkipWithError("not every swipe was forwarded");
        emptyAttendance(*server);
        timer.start();
        QProcess psql;
        psql.start(QStringLiteral("psql"),
                   {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"), server->conninfo(),
                    QStringLiteral("-c"),
                    QStringLiteral("\\copy sgdjb (num, name, d, t, opdate) from '%1' csv").arg(csvPath)});
        if (!psql.waitForFinished(60000) || psql.exitCode() != 0)
            state.SkipWithError(qPrintable(QString::fromLocal8Bit(psql.readAllStandardError())));
        copyNs += timer.nsecsElapsed();
        state.ResumeTiming();
    }
    const double n = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["forward_ms"] = double(forwardNs) / n / 1e6;
    state.counters["copy_ms"] = double(copyNs) / n / 1e6;
    state.counters["ratio"] = copyNs > 0 ? double(forwardNs) / double(copyNs) : 0;
    state.SetItemsProcessed(state.iterations() * kWaiting);
}
BENCHMARK(BM_Forward10000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Splitting a round of 10,000 queued swipes (1,000 employees) into batches of 56 employees.
void BM_SplitIntoBatches10000(benchmark::State& state)
{
    std::vector<StoredSwipe> swipes;
    for (int i = 0; i < 10000; ++i)
        swipes.push_back(benchSwipe(i));
    for (auto _ : state)
        benchmark::DoNotOptimize(ServerSwipeBatch::batches(swipes, 56));
    state.SetItemsProcessed(state.iterations() * qint64(swipes.size()));
}
BENCHMARK(BM_SplitIntoBatches10000)->Unit(benchmark::kMillisecond);

qint64 threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Nanoseconds a process has run on a CPU (the scheduler's own count, finer than its ticks).
qint64 processCpuNs(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readLine().split(' ').value(0).toLongLong();
}

// The server's part of forwarding 10,000 queued swipes: every batch the forwarder would
// send (as many employees as the lock table allows each), each in its own transaction,
// without the local store; one exchange per batch (together:0), or all batches in one
// (together:1). client_cpu_ms is this thread's CPU time in forward (building
// the statements, reading the answers, libpq), server_cpu_ms the CPU time of the server
// process serving the connection, wait_ms the time forward spent not on this thread's CPU
// (the server's work and the round trips, and a busy machine's queue).
void BM_ForwardBatches10000(benchmark::State& state)
{
    constexpr int kWaiting = 10000;
    const bool together = state.range(0) != 0;
    const std::unique_ptr<PgTestServer> server = startServer(state);
    if (!server)
        return;
    server->psql(QStringLiteral(
        "CREATE TABLE sgdjb (num varchar(10), name varchar(20), d date, t time(0), opdate date); "
        "CREATE INDEX sgdjb_num_instant ON sgdjb (num, (d + t))"));
    const std::vector<StoredSwipe> swipes = catchUpQueue();
    AdoConnection connection;
    connection.setConnectionString(ConnectionString::forServer(server->conninfo()));
    connection.open();
    ServerFeatures* features = connection.backend().serverFeatures();
    if (!features) {
        state.SkipWithError("no server behind the connection");
        return;
    }
    ServerIdentity::learnGrants(*features);
    const qint64 backend =
        features->pipeline({{"SELECT pg_catalog.pg_backend_pid()", {}}}).front().value(0, 0).toLongLong();
    std::vector<std::vector<StoredSwipe>> batches;
    for (const std::vector<size_t>& positions :
         ServerSwipeBatch::batches(swipes, ServerSwipeBatch::employeesPerBatch(*features))) {
        batches.emplace_back();
        for (size_t i : positions)
            batches.back().push_back(swipes[i]);
    }
    qint64 wallNs = 0;
    qint64 clientNs = 0;
    qint64 serverNs = 0;
    QElapsedTimer timer;
    for (auto _ : state) {
        state.PauseTiming();
        emptyAttendance(*server);
        state.ResumeTiming();
        const qint64 serverBefore = processCpuNs(backend);
        const qint64 clientBefore = threadCpuNs();
        timer.start();
        size_t recorded = 0;
        if (together) {
            const ServerSwipeBatch::Forwarded forwarded = ServerSwipeBatch::forward(*features, batches);
            for (const std::vector<SwipeOutcome>& outcomes : forwarded.committed)
                for (const SwipeOutcome& outcome : outcomes)
                    recorded += outcome.kind == SwipeOutcome::Kind::Recorded ? 1 : 0;
        } else {
            for (const std::vector<StoredSwipe>& batch : batches) {
                for (const SwipeOutcome& outcome : ServerSwipeBatch::forward(*features, batch))
                    recorded += outcome.kind == SwipeOutcome::Kind::Recorded ? 1 : 0;
            }
        }
        wallNs += timer.nsecsElapsed();
        clientNs += threadCpuNs() - clientBefore;
        serverNs += processCpuNs(backend) - serverBefore;
        if (recorded != size_t(kWaiting))
            state.SkipWithError("not every swipe was recorded");
    }
    const double n = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["batches"] = double(batches.size());
    state.counters["client_cpu_ms"] = double(clientNs) / n / 1e6;
    state.counters["server_cpu_ms"] = double(serverNs) / n / 1e6;
    state.counters["wait_ms"] = double(wallNs - clientNs) / n / 1e6;
    state.SetItemsProcessed(state.iterations() * kWaiting);
}
BENCHMARK(BM_ForwardBatches10000)
    ->ArgName("together")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

// The window's catch-up: a terminal starts with 10,000 swipes queued while the server was
// away, and its link forwards them on its own thread while the status line follows the count
// of what still waits. Timed from the link's start until nothing waits.
void BM_WindowCatchUp10000(benchmark::State& state)
{
    constexpr int kWaiting = 10000;
    TestSupport::coreApplication();
    const std::unique_ptr<PgTestServer> server = startServer(state);
    if (!server)
        return;
    QString error;
    if (!DevSchema::createServerDatabase(server->conninfo(), DevSchema::generatedEmployees(kEmployees),
                                         &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    QTemporaryDir dir(QStringLiteral("/tmp/tavelo-bench-XXXXXX"));
    const QString storePath = dir.filePath(QStringLiteral("store.sqlite"));
    const std::vector<StoredSwipe> swipes = catchUpQueue();
    QElapsedTimer timer;
    for (auto _ : state) {
        state.PauseTiming();
        emptyAttendance(*server);
        queueInNewStore(storePath, swipes);
        state.ResumeTiming();
        timer.start();
        TestSupport::LinkedTerminal terminal(server->conninfo(), storePath);
        if (!terminal.settled(60000))
            state.SkipWithError("the queue did not empty");
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        state.PauseTiming();
        if (server->psql(QStringLiteral("SELECT count(*) FROM sgdjb")) != QString::number(kWaiting))
            state.SkipWithError("not every swipe reached the server");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kWaiting);
}
BENCHMARK(BM_WindowCatchUp10000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
