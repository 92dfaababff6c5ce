// A site of a thousand terminals through one transaction pool: 1,000 terminals, each with
// its own connection to a PgBouncer (Debian's) in transaction mode with 20 server
// connections, start together (each loads the employee list: the morning boot storm),
// then swipe once each within the same 10 s (a shift change), each with the terminal's
// own swipe code (CardSwipe on the window's two queries), and all again 1 s after their
// first (answered "already recorded"). Reported: the boot's length and the p99 of one
// list load, p50/p99 of a swipe, errors (must be 0), duplicate pairs (must be 0) and the
// peak number of server backends (at most the pool). A failed load or swipe is reported with
// its text (each distinct text once, with how often it came), and the pooler's warnings with
// them, so that a failure under load can be told from the terminal's own.
//
// TAVELO_POOL_TERMINALS sets the number of terminals (1,000 by default).

#include "attendance/CardSwipe.h"
#include "attendance/ServerSchemaCheck.h"
#include "attendance/SwipeWindow.h"
#include "platform/Exception.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "query/Statements.h"
#include "support/ManualClock.h"
#include "support/PgTestPooler.h"
#include "support/PgTestServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr int kPool = 20;
constexpr int kWorkers = 100;
const QDateTime kShift(QDate(2026, 3, 2), QTime(8, 0), Qt::UTC);

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::exit(1);
}

struct Terminal
{
    AdoConnection connection;
    AdoQuery employees{QStringLiteral("YgQry")};
    AdoQuery records{QStringLiteral("RecordQry")};
    QString num;
};

// Distinct failure texts with their counts, from many threads.
class Failures
{
public:
    void add(const QString& text)
    {
        std::lock_guard lock(m_mutex);
        ++m_counts[text];
    }
    void print(const char* what) const
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [text, count] : m_counts)
            std::fprintf(stderr, "%s failed %d times: %s\n", what, count, qPrintable(text));
    }

private:
    mutable std::mutex m_mutex;
    std::map<QString, int> m_counts;
};

struct Swipe
{
    qint64 atMs; // from the start of the shift change
    int terminal;
    bool second;
};

qint64 percentile(std::vector<qint64> values, int p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * size_t(p) / 100)];
}

void BM_ThousandTerminalsThroughATransactionPool(benchmark::State& state)
{
    const int terminals = qEnvironmentVariableIsSet("TAVELO_POOL_TERMINALS")
                              ? qEnvironmentVariableIntValue("TAVELO_POOL_TERMINALS")
                              : 1000;
    // Each terminal holds a client connection to the pooler.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    PgTestServer server;
    {
        QProcess kqdb;
        kqdb.start(QStringLiteral(TAVELO_BIN_DIR "/kqdb"),
                   {QStringLiteral("create"), server.conninfo(), QStringLiteral("--employees"),
                    QString::number(terminals)});
        if (!kqdb.waitForFinished(600000) || kqdb.exitCode() != 0)
            fail(QStringLiteral("kqdb create: %1").arg(QString::fromLocal8Bit(kqdb.readAllStandardError())));
    }
    const QStringList numbers =
        server.psql(QStringLiteral("SELECT string_agg(num, ',' ORDER BY num) FROM employ")).split(u',');
    PgTestPooler pooler(server, PgTestPooler::Mode::Transaction, kPool);
    const QString target = ConnectionString::forServer(pooler.conninfo());

    // The peak number of server backends serving the database, sampled every 20 ms.
    std::atomic<bool> watching{true};
    std::atomic<int> peak{0};
    std::thread watcher([&] {
        PGconn* conn = PQconnectdb(server.conninfo().toUtf8().constData());
        while (watching) {
            PGresult* r = PQexec(conn, "SELECT count(*) FROM pg_stat_activity WHERE datname = 'kq' AND "
                                       "backend_type = 'client backend' AND pid <> pg_backend_pid()");
            if (PQresultStatus(r) == PGRES_TUPLES_OK)
                peak = std::max(peak.load(), std::atoi(PQgetvalue(r, 0, 0)));
            PQclear(r);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        PQfinish(conn);
    });

    for (auto _ : state) {
        std::vector<std::unique_ptr<Terminal>> all;
        for (int i = 0; i < terminals; ++i) {
            auto terminal = std::make_unique<Terminal>();
            terminal->connection.setConnectionString(target);
            terminal->connection.setNetworkTimeout(30000);
            // As the window's attendance terminal does.
            terminal->connection.setOpenCheck(ServerSchemaCheck::run);
            terminal->employees.setConnection(&terminal->connection);
            terminal->records.setConnection(&terminal->connection);
            terminal->num = numbers.at(i % numbers.size());
            all.push_back(std::move(terminal));
        }

        // The boot storm: every terminal loads the list at once.
        std::mutex mutex;
        std::vector<qint64> loads;
        std::atomic<int> loadErrors{0};
        Failures loadFailures;
        QElapsedTimer boot;
        boot.start();
        {
            std::vector<std::thread> workers;
            for (int w = 0; w < kWorkers; ++w) {
                workers.emplace_back([&, w] {
                    for (int i = w; i < terminals; i += kWorkers) {
                        QElapsedTimer one;
                        one.start();
                        Terminal& terminal = *all[size_t(i)];
                        // The window's load: the statement its attendance terminal runs.
                        try {
                            CommFunc::LoadStatement(terminal.employees, QStringLiteral("SELECT * FROM ") +
                                                                            Statements::kEmployTable);
                            if (terminal.employees.recordCount() != terminals)
                                loadFailures.add(QStringLiteral("%1 rows of %2")
                                                     .arg(terminal.employees.recordCount())
                                                     .arg(terminals));
                            else if (!terminal.employees.locate(Statements::kNum, terminal.num))
                                loadFailures.add(
                                    QStringLiteral("employee %1 not in the list").arg(terminal.num));
                            else
                                --loadErrors;
                        } catch (const Exception& error) {
                            loadFailures.add(error.message());
                        }
                        ++loadErrors;
                        std::lock_guard lock(mutex);
                        loads.push_back(one.nsecsElapsed() / 1000);
                    }
                });
            }
            for (std::thread& t : workers)
                t.join();
        }
        const qint64 bootMs = boot.elapsed();

        // Every terminal once within 10 s, then once more 1 s after its first.
        std::vector<Swipe> swipes;
        std::mt19937 random(28);
        std::uniform_int_distribution<qint64> within(0, 9999);
        for (int i = 0; i < terminals; ++i) {
            const qint64 at = within(random);
            swipes.push_back({at, i, false});
            swipes.push_back({at + 1000, i, true});
        }
        std::sort(swipes.begin(), swipes.end(),
                  [](const Swipe& a, const Swipe& b) { return a.atMs < b.atMs; });
        std::vector<qint64> latencies;
        std::atomic<int> errors{0};
        Failures swipeFailures;
        std::atomic<int> recorded{0};
        std::atomic<int> already{0};
        std::atomic<size_t> next{0};
        QElapsedTimer shift;
        shift.start();
        {
            std::vector<std::thread> workers;
            for (int w = 0; w < kWorkers; ++w) {
                workers.emplace_back([&] {
                    for (;;) {
                        const size_t n = next++;
                        if (n >= swipes.size())
                            return;
                        const Swipe& swipe = swipes[n];
                        const qint64 wait = swipe.atMs - shift.elapsed();
                        if (wait > 0)
                            std::this_thread::sleep_for(std::chrono::milliseconds(wait));
                        Terminal& terminal = *all[size_t(swipe.terminal)];
                        // One terminal's two swipes never overlap: the second is due 1 s after.
                        const ManualClock clock(kShift.addMSecs(swipe.atMs));
                        QElapsedTimer one;
                        one.start();
                        const SwipeOutcome outcome =
                            CardSwipe::run(&terminal.employees, terminal.records, clock);
                        const qint64 micros = one.nsecsElapsed() / 1000;
                        if (outcome.failed()) {
                            ++errors;
                            swipeFailures.add(outcome.errorMessage);
                        } else if (outcome.kind == SwipeOutcome::Kind::Nothing) {
                            // A terminal whose list did not load has nobody to swipe for.
                            ++errors;
                            swipeFailures.add(QStringLiteral("nobody to swipe for"));
                        } else if (outcome.kind == SwipeOutcome::Kind::Recorded)
                            ++recorded;
                        else
                            ++already;
                        std::lock_guard lock(mutex);
                        latencies.push_back(micros);
                    }
                });
            }
            for (std::thread& t : workers)
                t.join();
        }
        const qint64 duplicates =
            server
                .psql(
                    QStringLiteral("SELECT count(*) FROM (SELECT (d + t) - lag(d + t) OVER (PARTITION BY num "
                                   "ORDER BY d + t) AS gap FROM sgdjb) g WHERE gap < interval '%1 seconds'")
                        .arg(SwipeWindow::kSeconds))
                .toLongLong();
        state.counters["terminals"] = double(terminals);
        state.counters["boot_ms"] = double(bootMs);
        state.counters["load_p99_ms"] = double(percentile(loads, 99)) / 1000;
        state.counters["load_errors"] = double(loadErrors.load());
        state.counters["swipe_p50_ms"] = double(percentile(latencies, 50)) / 1000;
        state.counters["swipe_p99_ms"] = double(percentile(latencies, 99)) / 1000;
        state.counters["errors"] = double(errors.load());
        state.counters["recorded"] = double(recorded.load());
        state.counters["already"] = double(already.load());
        state.counters["duplicate_pairs"] = double(duplicates);
        watching = false;
        watcher.join();
        state.counters["peak_backends"] = double(peak.load());
        // The figures also when the run fails, to see why.
        for (const auto& [name, counter] : state.counters)
            std::fprintf(stderr, "%s=%g ", name.c_str(), counter.value);
        std::fprintf(stderr, "\n");
        loadFailures.print("list load");
        swipeFailures.print("swipe");
        for (const QString& line : pooler.log().split(u'\n'))
            if (line.contains(QStringLiteral("WARNING")) || line.contains(QStringLiteral("ERROR")))
                std::fprintf(stderr, "pgbouncer: %s\n", qPrintable(line));
        if (errors != 0 || loadErrors != 0 || duplicates != 0 || peak > kPool)
            state.SkipWithError("errors, duplicates or more backends than the pool");
    }
    if (watcher.joinable()) {
        watching = false;
        watcher.join();
    }
}
BENCHMARK(BM_ThousandTerminalsThroughATransactionPool)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
