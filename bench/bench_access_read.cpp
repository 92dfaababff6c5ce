// Reading kq-big.mdb (20,000 employees, 200,000 attendance rows) through AccessSource:
// the reading process, the frames and the decoding of every text and date serial. The
// whole import of the file has a 5 s aim; this part should take well under 2 s.

#include "interchange/AccessDateSerial.h"
#include "interchange/AccessSource.h"
#include "support/AccessFixtures.h"
#include "support/AccessPageEditor.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

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

// kq-big.mdb as years of edits leave it: every 4th employee renamed and every 4th record's
// name corrected, each row moved to a new page (55,000 rows), its old slot pointing there.
QString editedBigFile()
{
    static QTemporaryDir dir;
    static QString path;
    if (!path.isEmpty())
        return path;
    using TestSupport::AccessPageEditor;
    AccessPageEditor file(TestSupport::fileBytes(bigFile()));
    // The table definitions of employ and sgdjb in kq-big.mdb.
    for (const int table : {24, 209}) {
        const QList<int> pages = file.dataPages(table);
        int newPage = file.addDataPage(table);
        qint64 row = 0;
        for (const int page : pages) {
            const int count = file.slotCount(page);
            for (int slot = 0; slot < count; ++slot) {
                if (++row % 4 != 0)
                    continue;
                const QByteArray grown = AccessPageEditor::withTexts(
                    file.row(page, slot),
                    table == 24 ? QList<std::optional<QString>>{u"X"_qs, u"改了名字的人"_qs, u"9"_qs}
                                : QList<std::optional<QString>>{u"X"_qs, u"改了名字的人"_qs});
                try {
                    file.moveRow(page, slot, grown, newPage);
                } catch (const std::runtime_error&) {
                    newPage = file.addDataPage(table);
                    file.moveRow(page, slot, grown, newPage);
                }
            }
        }
    }
    path = dir.filePath(u"kq-big-edited.mdb"_qs);
    TestSupport::writeFile(path, file.bytes());
    return path;
}

void readAll(benchmark::State& state, const QString& path)
{
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

void BM_ReadBigFile(benchmark::State& state)
{
    readAll(state, bigFile());
}
BENCHMARK(BM_ReadBigFile)->Unit(benchmark::kMillisecond);

void BM_ReadBigFileWithMovedRows(benchmark::State& state)
{
    readAll(state, editedBigFile());
}
BENCHMARK(BM_ReadBigFileWithMovedRows)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
