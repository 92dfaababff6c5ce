// The Access reader on any file: it ends in rows or in one AccessFileError, never in a
// crash of this process or another kind of error, whatever libmdb does with the file in
// its own process; the frames between the two processes always make sense. Rows are
// numbered from 1 without gaps, and no more arrive than the file could hold.

#include "FuzzCheck.h"

#include "interchange/AccessSource.h"
#include "platform/AccessFileError.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.mdb"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    const auto limit = qint64(size);
    try {
        // Under the fuzzer's own time limit.
        AccessSource source(path, std::chrono::milliseconds(3000));
        qint64 rows = 0;
        source.readEmployees([&](const AccessSource::Employee& e) {
            FUZZ_CHECK(e.row == ++rows);
            FUZZ_CHECK(e.row <= limit);
        });
        rows = 0;
        source.readAttendance([&](const AccessSource::Attendance& a) {
            FUZZ_CHECK(a.row == ++rows);
            FUZZ_CHECK(a.row <= limit);
        });
    } catch (const AccessFileError& e) {
        FUZZ_CHECK(!e.message().isEmpty());
        // The reading process never sends what the parent cannot take apart, whatever
        // the file holds.
        FUZZ_CHECK(!e.message().contains(u"garbled"));
        FUZZ_CHECK(!e.message().contains(u"arrived"));
    }
    return 0;
}
