// kqdb's CSV work side by side with the tools an administrator would otherwise use, each
// run as a process of its own on the same data, so that the pairs compare directly:
//   - import of 100,000 employees into a server: kqdb import-employees / psql \copy from;
//   - export of 1,000,000 records from a server: kqdb export / psql \copy (query) to;
//   - export of 1,000,000 records from a file: kqdb export / the sqlite3 shell's -csv.
// Each export also reports the processes' peak resident memory (kqdb_max_rss_MB), at 200,000
// and at 1,000,000 records, to show that it does not grow with the number of records.
// The server is a throwaway one on a Unix socket, as the tests use.

#include "interchange/DevSchema.h"
#include "interchange/CsvWriter.h"
#include "support/PgTestServer.h"
#include "support/RawRecords.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kKqdb = QStringLiteral(TAVELO_BIN_DIR "/kqdb");
constexpr int kEmployees = 100'000;

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::exit(1);
}

struct Finished
{
    int exitCode = -1;
    double maxRssMegabytes = 0;
};

// Runs a program with standard input from stdinPath (or /dev/null) and standard output to
// stdoutPath, and returns its exit code and its own peak resident memory.
Finished runProcess(const QStringList& args, const QString& stdoutPath = QStringLiteral("/dev/null"),
                    const QString& stdinPath = QStringLiteral("/dev/null"))
{
    std::vector<std::string> storage;
    for (const QString& arg : args)
        storage.push_back(arg.toStdString());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const std::string out = stdoutPath.toStdString();
    const std::string in = stdinPath.toStdString();
    const pid_t pid = fork();
    if (pid < 0)
        fail(QStringLiteral("fork failed"));
    if (pid == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int inFd = ::open(in.c_str(), O_RDONLY);
        if (outFd < 0 || inFd < 0 || dup2(outFd, 1) < 0 || dup2(inFd, 0) < 0)
            _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        fail(QStringLiteral("wait4 failed"));
    Finished finished;
    finished.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    finished.maxRssMegabytes = double(usage.ru_maxrss) / 1024.0;
    return finished;
}

// One server for the whole run, with a database per purpose.
class Environment
{
public:
    static Environment& instance()
    {
        static Environment environment;
        return environment;
    }

    PgTestServer& server() { return m_server; }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A server database with the schema and no employees.
    QString serverDatabase(const QString& name)
    {
        m_server.createDatabase(name);
        const QString conninfo = m_server.conninfo(name);
        if (runProcess({kKqdb, QStringLiteral("create"), conninfo}).exitCode != 0)
            fail(QStringLiteral("kqdb create %1 failed").arg(name));
        return conninfo;
    }

    // The employees file both tools read: header and 100,000 generated employees.
    const QString& employeesCsv()
    {
        static const QString file = [this] {
            QByteArray csv = "num,name,dept_no\r\n";
            for (const DevSchema::Employee& e : DevSchema::generatedEmployees(kEmployees))
                csv += CsvWriter::record({e.num, e.name, e.deptNo}).toUtf8();
            const QString path = m_dir.filePath(QStringLiteral("employees.csv"));
            QFile out(path);
            if (!out.open(QIODevice::WriteOnly) || out.write(csv) != csv.size())
                fail(QStringLiteral("cannot write %1").arg(path));
            return path;
        }();
        return file;
    }

    // A server database holding `records` swipes of 1,000 employees, one a minute.
    QString serverRecords(int records)
    {
        const QString name = QStringLiteral("records%1").arg(records);
        const QString conninfo = serverDatabase(name);
        m_server.psql(
            QStringLiteral("INSERT INTO sgdjb (num, name, d, t, opdate) SELECT lpad((1 + i % 1000)::text, "
                           "4, '0'), '名字' || (i % 1000), date '2026-01-05' + i / 1440, time '00:00' + "
                           "(i % 1440) * interval '1 minute', date '1999-01-01' FROM generate_series(0, "
                           "%1 - 1) i")
                .arg(records),
            name);
        m_server.psql(QStringLiteral("VACUUM ANALYZE sgdjb"), name);
        return conninfo;
    }

    // A database file with `records` swipes, as above.
    QString fileRecords(int records)
    {
        const QString file = m_dir.filePath(QStringLiteral("records%1.mdb").arg(records));
        QString error;
        if (!DevSchema::createDatabase(file, {}, &error))
            fail(error);
        const qint64 start = QDate(1970, 1, 1).daysTo(QDate(2026, 1, 5)) * 86400;
        RawRecords::fill(file, DevSchema::generatedEmployees(1000), records, [&](int i) {
            return RawRecords::Swipe{i % 1000, start + qint64(i) * 60};
        });
        return file;
    }

private:
    Environment() = default;
    QTemporaryDir m_dir;
    PgTestServer m_server;
};

// Each benchmark runs kqdb and the native tool alternately, several times, so that both
// meet the same load on the machine; the iteration time is kqdb's, and the counters give
// both tools' mean time and kqdb's time as a multiple of the native tool's (ratio).
struct Pair
{
    double kqdbSeconds = 0;
    double nativeSeconds = 0;
    double kqdbMaxRss = 0;
    double nativeMaxRss = 0;
};

double timed(const std::function<Finished()>& run, Finished& finished)
{
    const auto start = std::chrono::steady_clock::now();
    finished = run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void runPair(benchmark::State& state, const std::function<void()>& before,
             const std::function<Finished()>& kqdb, const std::function<Finished()>& native, qint64 rows)
{
    Pair pair;
    for (auto _ : state) {
        Finished finished;
        before();
        pair.nativeSeconds += timed(native, finished);
        pair.nativeMaxRss = std::max(pair.nativeMaxRss, finished.maxRssMegabytes);
        if (finished.exitCode != 0) {
            state.SkipWithError("the native tool failed");
            return;
        }
        before();
        const double seconds = timed(kqdb, finished);
        pair.kqdbSeconds += seconds;
        pair.kqdbMaxRss = std::max(pair.kqdbMaxRss, finished.maxRssMegabytes);
        if (finished.exitCode != 0) {
            state.SkipWithError("kqdb failed");
            return;
        }
        state.SetIterationTime(seconds);
    }
    const double n = double(state.iterations());
    state.counters["kqdb_ms"] = 1000 * pair.kqdbSeconds / n;
    state.counters["native_ms"] = 1000 * pair.nativeSeconds / n;
    state.counters["ratio"] = pair.kqdbSeconds / pair.nativeSeconds;
    state.counters["kqdb_max_rss_MB"] = pair.kqdbMaxRss;
    state.counters["native_max_rss_MB"] = pair.nativeMaxRss;
    state.counters["rows"] = double(rows);
}

// 100,000 employees into an empty list: kqdb import-employees against psql's \copy from.
void BM_ServerImport(benchmark::State& state)
{
    Environment& env = Environment::instance();
    static const QString target = env.serverDatabase(QStringLiteral("import"));
    const QString csv = env.employeesCsv();
    runPair(
        state, [&] { env.server().psql(QStringLiteral("TRUNCATE employ"), QStringLiteral("import")); },
        [&] {
            return runProcess({kKqdb, QStringLiteral("import-employees"), target, csv});
        },
        [&] {
            return runProcess(
                {QStringLiteral("psql"), QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"),
                 target, QStringLiteral("-c"),
                 QStringLiteral("\\copy employ (num, name, dept_no) FROM '%1' WITH (FORMAT csv, "
                                "HEADER true)")
                     .arg(csv)});
        },
        kEmployees);
    if (env.server().psql(QStringLiteral("SELECT count(*) FROM employ"), QStringLiteral("import")) !=
        QString::number(kEmployees))
        state.SkipWithError("the list does not hold every employee");
}
BENCHMARK(BM_ServerImport)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

const QString& serverRecords(int records)
{
    static std::map<int, QString> made;
    auto it = made.find(records);
    if (it == made.end())
        it = made.emplace(records, Environment::instance().serverRecords(records)).first;
    return it->second;
}

const QString& fileRecords(int records)
{
    static std::map<int, QString> made;
    auto it = made.find(records);
    if (it == made.end())
        it = made.emplace(records, Environment::instance().fileRecords(records)).first;
    return it->second;
}

void exportPair(benchmark::State& state, const QStringList& kqdb, const QStringList& native)
{
    const QString out = Environment::instance().path(QStringLiteral("export.csv"));
    runPair(
        state, [] {}, [&] { return runProcess(kqdb, out); }, [&] { return runProcess(native, out); },
        state.range(0));
}

// kqdb export against psql's \copy (query) to, the same selection and order.
void BM_ServerExport(benchmark::State& state)
{
    const QString& target = serverRecords(int(state.range(0)));
    exportPair(
        state, {kKqdb, QStringLiteral("export"), target},
        {QStringLiteral("psql"), QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"), target,
         QStringLiteral("-c"),
         QStringLiteral("\\copy (SELECT num, name, d, t FROM sgdjb ORDER BY (d + t), num) TO STDOUT WITH "
                        "(FORMAT csv, HEADER true)")});
}
BENCHMARK(BM_ServerExport)
    ->Arg(200'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseManualTime();

// kqdb export against the sqlite3 shell's -csv, the same selection and order, the dates
// written by SQLite's own functions.
void BM_FileExport(benchmark::State& state)
{
    const QString& file = fileRecords(int(state.range(0)));
    exportPair(
        state, {kKqdb, QStringLiteral("export"), file},
        {QStringLiteral("sqlite3"), QStringLiteral("-csv"), QStringLiteral("-header"), file,
         QStringLiteral("SELECT num, name, date(D + T, 'unixepoch') AS date, time(D + T, 'unixepoch') AS "
                        "time FROM sgdjb ORDER BY (D + T), num")});
}
BENCHMARK(BM_FileExport)
    ->Arg(200'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseManualTime();

} // namespace

BENCHMARK_MAIN();
