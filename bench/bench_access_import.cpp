// kqdb import-mdb's work on kq-big.mdb (20,000 employees, 200,000 attendance records):
// into a new database file, and into a database of a local throwaway PostgreSQL server.
// Each iteration is the whole import: the source opened and read, the target's schema
// made, every row written and committed. Rows per second count both tables.

#include "interchange/AccessImport.h"
#include "interchange/AccessSource.h"
#include "query/ConnectionString.h"
#include "query/AdoConnection.h"
#include "interchange/DevSchema.h"
#include "support/AccessFixtures.h"
#include "support/PgTestServer.h"

#include <QFile>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace {

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::exit(1);
}

void import(AdoConnection& connection, benchmark::State& state)
{
    AccessSource source(TestSupport::AccessFixtures::bigFile());
    const AccessImport::Result result = AccessImport::run(source, connection, {});
    if (!result.ok)
        fail(result.error);
    state.counters["rows"] = double(result.employeesWritten + result.attendanceWritten);
}

void setRate(benchmark::State& state)
{
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(state.counters["rows"].value));
}

void BM_ImportIntoNewFile(benchmark::State& state)
{
    const QString path = QStringLiteral("/tmp/tavelo_bench_import_%1.sqlite").arg(qint64(getpid()));
    for (auto _ : state) {
        QFile::remove(path);
        QString error;
        if (!DevSchema::createDatabase(path, {}, &error))
            fail(error);
        AdoConnection connection;
        connection.setConnectionString(ConnectionString::forFile(path));
        import(connection, state);
    }
    QFile::remove(path);
    setRate(state);
}
BENCHMARK(BM_ImportIntoNewFile)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

void BM_ImportIntoServer(benchmark::State& state)
{
    static PgTestServer server;
    int database = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString name = QStringLiteral("import%1").arg(++database);
        server.createDatabase(name);
        state.ResumeTiming();
        QString error;
        if (!DevSchema::createServerDatabase(server.conninfo(name), {}, &error))
            fail(error);
        AdoConnection connection;
        connection.setConnectionString(ConnectionString::forServer(server.conninfo(name)));
        import(connection, state);
    }
    setRate(state);
}
BENCHMARK(BM_ImportIntoServer)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
