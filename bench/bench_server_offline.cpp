// A swipe queued in the outbox while the server cannot be reached, against the file back
// end's swipe (the same duplicate test, insert and synced commit, both files in /tmp), and
// forwarding 10,000 queued swipes to a local PostgreSQL server.

#include "query/ConnectionString.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "attendance/CardSwipe.h"
#include "interchange/DevSchema.h"
#include "attendance/LocalStore.h"
#include "attendance/OutboxForwarder.h"
#include "attendance/OutboxSwipe.h"
#include "support/ManualClock.h"
#include "support/PgTestServer.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

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

void BM_Forward10000(benchmark::State& state)
{
    constexpr int kWaiting = 10000;
    std::unique_ptr<PgTestServer> server;
    try {
        server = std::make_unique<PgTestServer>();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    server->psql(QStringLiteral(
        "CREATE TABLE employ (num varchar(10) NOT NULL, name varchar(20), dept_no varchar(10)); "
        "CREATE TABLE sgdjb (num varchar(10), name varchar(20), d date, t time(0), opdate date); "
        "CREATE INDEX sgdjb_num_instant ON sgdjb (num, (d + t))"));
    const QList<DevSchema::Employee> employees = DevSchema::generatedEmployees(kEmployees);
    QTemporaryDir dir(QStringLiteral("/tmp/tavelo-bench-XXXXXX"));
    const QString storePath = dir.filePath(QStringLiteral("store.sqlite"));
    for (auto _ : state) {
        state.PauseTiming();
        server->psql(QStringLiteral("DELETE FROM sgdjb"));
        {
            LocalStore store(storePath);
            LocalStore::WriteTransaction transaction(store);
            for (int i = 0; i < kWaiting; ++i) {
                StoredSwipe swipe;
                swipe.num = employees.at(i % kEmployees).num;
                swipe.name = employees.at(i % kEmployees).name;
                swipe.date = QDate(2026, 3, 2);
                swipe.time = QTime(7, 0).addSecs(600 * (i / kEmployees));
                swipe.opdate = QStringLiteral("1999-01-01");
                store.enqueue(swipe);
            }
            transaction.commit();
        }
        OutboxForwarder forwarder(ConnectionString::forServer(server->conninfo()), storePath);
        state.ResumeTiming();
        const OutboxForwarder::Result result = forwarder.forwardAll();
        state.PauseTiming();
        if (result.forwarded != kWaiting)
            state.SkipWithError("not every swipe was forwarded");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kWaiting);
}
BENCHMARK(BM_Forward10000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
