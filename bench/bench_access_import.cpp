// kqdb import-mdb's work on kq-big.mdb (20,000 employees, 200,000 attendance records):
// into a new database file, and into a database of a local throwaway PostgreSQL server.
// Each iteration is the whole import: the source opened and read, the target's schema
// made, every row written and committed. Rows per second count both tables.
//
// BM_SkipExisting* run `kqdb import-mdb --skip-existing` as a process of its own against a
// target that holds the file's rows already, and more records besides (range(0) records in
// all), and report the process's peak resident memory (kqdb_max_rss_MB): it must not grow
// with the target.

#include "interchange/AccessImport.h"
#include "interchange/AccessSource.h"
#include "query/ConnectionString.h"
#include "query/AdoConnection.h"
#include "interchange/DevSchema.h"
#include "support/AccessFixtures.h"
#include "support/PgTestServer.h"
#include "support/SqliteFile.h"

#include <QFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

// Runs kqdb with the arguments, its output thrown away; fails unless it exits 0. Returns its
// peak resident memory in MB.
double kqdbMaxRssMegabytes(const QStringList& args)
{
    std::vector<std::string> storage{TAVELO_BIN_DIR "/kqdb"};
    for (const QString& arg : args)
        storage.push_back(arg.toStdString());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        fail(QStringLiteral("fork failed"));
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull < 0 || dup2(devNull, 1) < 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        fail(QStringLiteral("wait4 failed"));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(QStringLiteral("kqdb %1 failed").arg(args.join(u' ')));
    return double(usage.ru_maxrss) / 1024.0;
}

constexpr qint64 kBigRecords = 200000;
constexpr qint64 kYear = 366;

void skipExisting(benchmark::State& state, const QString& target)
{
    double peak = 0;
    for (auto _ : state)
        peak = std::max(
            peak, kqdbMaxRssMegabytes({QStringLiteral("import-mdb"), TestSupport::AccessFixtures::bigFile(),
                                       target, QStringLiteral("--skip-existing")}));
    state.counters["kqdb_max_rss_MB"] = peak;
    state.counters["target_records"] = double(state.range(0));
}

void BM_SkipExistingIntoFile(benchmark::State& state)
{
    const QString path = QStringLiteral("/tmp/tavelo_bench_skip_%1.sqlite").arg(qint64(getpid()));
    QFile::remove(path);
    kqdbMaxRssMegabytes({QStringLiteral("import-mdb"), TestSupport::AccessFixtures::bigFile(), path});
    {
        // The same records again, a year later each time, until the target holds range(0).
        const TestSupport::SqliteFile db(path);
        for (qint64 copy = 1; copy * kBigRecords < state.range(0); ++copy)
            db.exec(QStringLiteral(
                        "INSERT INTO sgdjb SELECT num, name, D + %1, T, opdate FROM sgdjb WHERE rowid <= %2")
                        .arg(copy * kYear * 86400)
                        .arg(kBigRecords));
    }
    skipExisting(state, path);
    QFile::remove(path);
}
BENCHMARK(BM_SkipExistingIntoFile)
    ->Arg(200000)
    ->Arg(1000000)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

void BM_SkipExistingIntoServer(benchmark::State& state)
{
    static PgTestServer server;
    const QString name = QStringLiteral("skip%1").arg(state.range(0));
    server.createDatabase(name);
    const QString target = server.conninfo(name);
    kqdbMaxRssMegabytes({QStringLiteral("create"), target});
    kqdbMaxRssMegabytes({QStringLiteral("import-mdb"), TestSupport::AccessFixtures::bigFile(), target});
    for (qint64 copy = 1; copy * kBigRecords < state.range(0); ++copy)
        server.psql(
            QStringLiteral(
                "INSERT INTO sgdjb SELECT num, name, d + %1, t, opdate FROM sgdjb WHERE d < '2025-01-01'")
                .arg(copy * kYear),
            name);
    server.psql(QStringLiteral("ANALYZE sgdjb"), name);
    skipExisting(state, target);
}
BENCHMARK(BM_SkipExistingIntoServer)
    ->Arg(200000)
    ->Arg(1000000)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
