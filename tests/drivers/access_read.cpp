// Reads an Access file as kqdb import-mdb does, from a small process of its own, so that
// the reading process starts from a known size whatever the test did before: prints the
// rows of each table or the refusal, and the largest resident size the reading process
// reached.
//
//   access_read <file> [<memory budget in MB>]

#include "interchange/AccessSource.h"
#include "platform/AccessFileError.h"

#include <QCoreApplication>

#include <cstdio>
#include <sys/resource.h>

namespace {

long readerPeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: access_read <file> [<memory budget in MB>]\n");
        return 2;
    }
    const std::size_t budget =
        args.size() == 3 ? std::size_t(args[2].toULongLong()) << 20 : AccessSource::kDefaultMemoryBudget;
    int status = 0;
    try {
        AccessSource source(args[1], AccessSource::kDefaultSilenceLimit, budget);
        qint64 employees = 0;
        qint64 records = 0;
        source.readEmployees([&](const AccessSource::Employee&) { ++employees; });
        source.readAttendance([&](const AccessSource::Attendance&) { ++records; });
        std::printf("employ %lld\nsgdjb %lld\n", static_cast<long long>(employees),
                    static_cast<long long>(records));
    } catch (const AccessFileError& e) {
        std::fprintf(stderr, "%s\n", e.message().toUtf8().constData());
        status = 1;
    }
    std::printf("reader peak KiB %ld\n", readerPeakKiB());
    return status;
}
