// Loading the employee list and the quick search on it, at 100,000 employees.
#include "query/ConnectionString.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "interchange/DevSchema.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int kEmployees = 100000;

struct EmployeeDatabase
{
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("kq.mdb"));

    EmployeeDatabase()
    {
        QList<DevSchema::Employee> employees;
        employees.reserve(kEmployees);
        for (int i = 0; i < kEmployees; ++i) {
            // Numbers in a scattered order, so the locate index has real sorting to do.
            employees.append({QStringLiteral("%1").arg((i * 7919) % kEmployees, 6, 10, QChar(u'0')),
                              QStringLiteral("Employee %1").arg(i),
                              QStringLiteral("%1").arg(i % 40, 2, 10, QChar(u'0'))});
        }
        QString error;
        if (!DevSchema::createDatabase(path, employees, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            std::exit(1);
        }
    }

    QString connectionString() const { return ConnectionString::forFile(path); }
};

EmployeeDatabase& database()
{
    static EmployeeDatabase db;
    return db;
}

double residentMegabytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void BM_OpenEmployees(benchmark::State& state)
{
    AdoConnection connection;
    connection.setConnectionString(database().connectionString());
    AdoQuery query(QStringLiteral("YgQry"));
    query.setConnection(&connection);
    query.sqlAdd(QStringLiteral("SELECT * FROM employ"));
    connection.open();
    double growth = 0;
    for (auto _ : state) {
        const double before = residentMegabytes();
        query.open();
        growth = std::max(growth, residentMegabytes() - before);
        benchmark::DoNotOptimize(query.recordCount());
        state.PauseTiming();
        query.close();
        state.ResumeTiming();
    }
    state.counters["rows"] = kEmployees;
    state.counters["rss_growth_MB"] = growth;
}
BENCHMARK(BM_OpenEmployees)->Unit(benchmark::kMillisecond);

void BM_LocateEmployee(benchmark::State& state)
{
    AdoConnection connection;
    connection.setConnectionString(database().connectionString());
    AdoQuery query(QStringLiteral("YgQry"));
    query.setConnection(&connection);
    query.sqlAdd(QStringLiteral("SELECT * FROM employ"));
    query.open();
    const double before = residentMegabytes();
    query.locate(QStringLiteral("num"), QStringLiteral("0")); // builds the index once
    state.counters["index_rss_MB"] = residentMegabytes() - before;
    int i = 0;
    for (auto _ : state) {
        const QString key =
            QString::number((i * 104729) % kEmployees).rightJustified(6, u'0').left(1 + i % 6);
        ++i;
        benchmark::DoNotOptimize(query.locate(QStringLiteral("num"), key));
    }
}
BENCHMARK(BM_LocateEmployee)->Unit(benchmark::kMicrosecond);

void BM_LocateFirstCall(benchmark::State& state)
{
    AdoConnection connection;
    connection.setConnectionString(database().connectionString());
    AdoQuery query(QStringLiteral("YgQry"));
    query.setConnection(&connection);
    query.sqlAdd(QStringLiteral("SELECT * FROM employ"));
    for (auto _ : state) {
        state.PauseTiming();
        query.close();
        query.open();
        state.ResumeTiming();
        benchmark::DoNotOptimize(query.locate(QStringLiteral("num"), QStringLiteral("0123")));
    }
}
BENCHMARK(BM_LocateFirstCall)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
