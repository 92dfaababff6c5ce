// Loading the employee list and the quick search on it, at 100,000 employees.
#include "db/AdoConnection.h"
#include "db/AdoQuery.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <sqlite3.h>
#include <unistd.h>

namespace {

constexpr int kEmployees = 100000;

struct EmployeeDatabase
{
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("kq.mdb"));

    EmployeeDatabase()
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        sqlite3_exec(db,
                     "CREATE TABLE employ (num VARCHAR(10) NOT NULL, name VARCHAR(20), dept_no VARCHAR(10));"
                     "BEGIN",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO employ VALUES (?1, ?2, ?3)", -1, &insert, nullptr);
        for (int i = 0; i < kEmployees; ++i) {
            // Numbers in a scattered order, so the locate index has real sorting to do.
            char num[16];
            char name[24];
            char dept[8];
            std::snprintf(num, sizeof num, "%06d", (i * 7919) % kEmployees);
            std::snprintf(name, sizeof name, "Employee %d", i);
            std::snprintf(dept, sizeof dept, "%02d", i % 40);
            sqlite3_bind_text(insert, 1, num, -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 2, name, -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 3, dept, -1, SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
    }

    QString connectionString() const
    {
        return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Mode=Read|Write;"
                              "Persist Security Info=False")
            .arg(path);
    }
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
