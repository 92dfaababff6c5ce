// kqdb's CSV work side by side with the tools an administrator would otherwise use, each
// run as a process of its own on the same data, so that the pairs compare directly:
//   - import of 100,000 employees into a server: kqdb import-employees / psql \copy from;
//   - export of 1,000,000 records from a server: kqdb export / psql \copy (query) to;
//   - export of 1,000,000 records from a file: kqdb export / the sqlite3 shell's -csv.
// Each export also reports the process's peak resident memory (max_rss_MB), at 200,000 and
// at 1,000,000 records, to show that it does not grow with the number of records.
// The server is a throwaway one on a Unix socket, as the tests use.

#include "db/DevSchema.h"
#include "platform/CsvWriter.h"
#include "support/PgTestServer.h"
#include "support/RawRecords.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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

// Server import: each iteration starts from an empty list.
void importIteration(benchmark::State& state, bool kqdb)
{
    Environment& env = Environment::instance();
    const QString name = kqdb ? QStringLiteral("import_kqdb") : QStringLiteral("import_psql");
    static QString conninfo[2];
    QString& target = conninfo[kqdb ? 1 : 0];
    if (target.isEmpty())
        target = env.serverDatabase(name);
    const QString csv = env.employeesCsv();
    for (auto _ : state) {
        state.PauseTiming();
        env.server().psql(QStringLiteral("TRUNCATE employ"), name);
        state.ResumeTiming();
        const Finished run =
            kqdb
                ? runProcess({kKqdb, QStringLiteral("import-employees"), target, csv})
                : runProcess({QStringLiteral("psql"), QStringLiteral("-X"), QStringLiteral("-q"),
                              QStringLiteral("-d"), target, QStringLiteral("-c"),
                              QStringLiteral("\\copy employ (num, name, dept_no) FROM '%1' WITH (FORMAT csv, "
                                             "HEADER true)")
                                  .arg(csv)});
        if (run.exitCode != 0) {
            state.SkipWithError("the import failed");
            return;
        }
    }
    if (env.server().psql(QStringLiteral("SELECT count(*) FROM employ"), name) != QString::number(kEmployees))
        state.SkipWithError("the list does not hold every employee");
    state.counters["rows_per_second"] =
        benchmark::Counter(double(kEmployees) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ServerImport_Kqdb(benchmark::State& state)
{
    importIteration(state, true);
}
void BM_ServerImport_PsqlCopy(benchmark::State& state)
{
    importIteration(state, false);
}
BENCHMARK(BM_ServerImport_Kqdb)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ServerImport_PsqlCopy)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

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

void exportIteration(benchmark::State& state, const QStringList& command)
{
    const QString out = Environment::instance().path(QStringLiteral("export.csv"));
    double rss = 0;
    for (auto _ : state) {
        const Finished run = runProcess(command, out);
        if (run.exitCode != 0) {
            state.SkipWithError("the export failed");
            return;
        }
        rss = std::max(rss, run.maxRssMegabytes);
    }
    state.counters["max_rss_MB"] = rss;
    state.counters["rows_per_second"] =
        benchmark::Counter(double(state.range(0)) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(QFile(out).size());
}

void BM_ServerExport_Kqdb(benchmark::State& state)
{
    exportIteration(state, {kKqdb, QStringLiteral("export"), serverRecords(int(state.range(0)))});
}
void BM_ServerExport_PsqlCopy(benchmark::State& state)
{
    exportIteration(state,
                    {QStringLiteral("psql"), QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"),
                     serverRecords(int(state.range(0))), QStringLiteral("-c"),
                     QStringLiteral("\\copy (SELECT num, name, d, t FROM sgdjb ORDER BY (d + t), num) TO "
                                    "STDOUT WITH (FORMAT csv, HEADER true)")});
}
BENCHMARK(BM_ServerExport_Kqdb)
    ->Arg(200'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(BM_ServerExport_PsqlCopy)
    ->Arg(200'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

void BM_FileExport_Kqdb(benchmark::State& state)
{
    exportIteration(state, {kKqdb, QStringLiteral("export"), fileRecords(int(state.range(0)))});
}
void BM_FileExport_Sqlite3Shell(benchmark::State& state)
{
    // The same selection and order, the dates written by SQLite's own functions.
    exportIteration(state, {QStringLiteral("sqlite3"), QStringLiteral("-csv"), QStringLiteral("-header"),
                            fileRecords(int(state.range(0))),
                            QStringLiteral("SELECT num, name, date(D + T, 'unixepoch') AS date, time(D + T, "
                                           "'unixepoch') AS time FROM sgdjb ORDER BY (D + T), num")});
}
BENCHMARK(BM_FileExport_Kqdb)
    ->Arg(200'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(BM_FileExport_Sqlite3Shell)
    ->Arg(200'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
