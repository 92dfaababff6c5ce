// The CSV work of kqdb on a file database: export of 1,000,000 attendance records and
// import of 100,000 employees, in rows per second.

#include "query/ConnectionString.h"
#include "query/AdoConnection.h"
#include "interchange/AttendanceExport.h"
#include "interchange/DevSchema.h"
#include "interchange/EmployeeImport.h"
#include "interchange/CsvWriter.h"
#include "support/RawRecords.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kRecords = 1'000'000;
constexpr int kEmployees = 100'000;

// Every database of a run lives in one temporary folder, removed with what is in it when the
// program ends: the record database alone is some 60 MB.
const QTemporaryDir& workFolder()
{
    static const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tavelo-bench-csv-XXXXXX"));
    return dir;
}

QString newDatabase(const QString& name)
{
    const QString path = workFolder().filePath(name + QStringLiteral(".db"));
    QFile::remove(path);
    QString error;
    if (!DevSchema::createDatabase(path, {}, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::abort();
    }
    return path;
}

// kRecords swipes of 1,000 employees, one a minute, written with bare SQLite calls: the
// set-up is not what is measured.
const QString& recordDatabase()
{
    static const QString path = [] {
        const QString file = newDatabase(QStringLiteral("records"));
        const qint64 start = QDate(1970, 1, 1).daysTo(QDate(2026, 1, 5)) * 86400;
        RawRecords::fill(file, DevSchema::generatedEmployees(1000), kRecords, [&](int i) {
            return RawRecords::Swipe{i % 1000, start + qint64(i) * 60};
        });
        return file;
    }();
    return path;
}

void BM_ExportRecords(benchmark::State& state)
{
    const QString path = recordDatabase();
    qint64 rows = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        AdoConnection connection;
        connection.setConnectionString(ConnectionString::forFile(path));
        rows += AttendanceExport::run(connection, {}, {}, [&](const QByteArray& piece) {
                    bytes += piece.size();
                }).records;
    }
    state.counters["rows_per_second"] = benchmark::Counter(double(rows), benchmark::Counter::kIsRate);
    state.counters["bytes_per_row"] = double(bytes) / double(rows);
}
BENCHMARK(BM_ExportRecords)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_ImportEmployees(benchmark::State& state)
{
    QByteArray csv = "num,name,dept_no\r\n";
    for (const DevSchema::Employee& e : DevSchema::generatedEmployees(kEmployees))
        csv += CsvWriter::record({e.num, e.name, e.deptNo}).toUtf8();
    qint64 rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = newDatabase(QStringLiteral("employees"));
        state.ResumeTiming();
        AdoConnection connection;
        connection.setConnectionString(ConnectionString::forFile(path));
        const EmployeeImport::Result result = EmployeeImport::run(connection, csv, EmployeeImport::Mode::Add);
        if (!result.ok) {
            state.SkipWithError(qPrintable(result.error));
            break;
        }
        rows += result.added;
    }
    state.counters["rows_per_second"] = benchmark::Counter(double(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ImportEmployees)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
