// Reading kq-big.mdb (20,000 employees, 200,000 attendance rows) through AccessSource:
// the reading process, the frames and the decoding of every text and date serial. The
// whole import of the file has a 5 s aim; this part should take well under 2 s.

#include "db/AccessDateSerial.h"
#include "db/AccessSource.h"
#include "support/AccessFixtures.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

QString bigFile()
{
    try {
        return TestSupport::AccessFixtures::bigFile();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::exit(1);
    }
}

void BM_ReadBigFile(benchmark::State& state)
{
    const QString path = bigFile();
    qint64 rows = 0;
    for (auto _ : state) {
        AccessSource source(path);
        qint64 chars = 0;
        qint64 seconds = 0;
        source.readEmployees(
            [&](const AccessSource::Employee& e) { chars += e.num->size() + e.name->size(); });
        source.readAttendance([&](const AccessSource::Attendance& a) {
            chars += a.num->size();
            seconds +=
                AccessDateSerial::toDate(*a.d)->seconds() + AccessDateSerial::toTimeOfDay(*a.t)->seconds();
        });
        benchmark::DoNotOptimize(chars);
        benchmark::DoNotOptimize(seconds);
        rows += source.employeeCount() + source.attendanceCount();
    }
    state.counters["rows/s"] = benchmark::Counter(double(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadBigFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
