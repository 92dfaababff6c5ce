// swipe_loop <database> <first step> [<steps>]
//
// Swipes through one connection, as a terminal does, step after step: step s swipes
// employee s mod (number of employees) at 2026-01-01 00:00 plus s times four minutes, so
// that every step is meant to record and two drivers given the same steps compete for the
// same records. Each outcome is printed and flushed the moment the swipe has returned:
//   R <step> <num> <instant>   recorded (committed): <instant> is D+T in seconds
//   A <step> <num>             already recorded by someone else
//   F <step> <message>         failed, nothing recorded
// A line that was printed was acknowledged; the crash test holds the database to it.

#include "attendance/CardSwipe.h"
#include "query/ConnectionString.h"
#include "support/ManualClock.h"
#include "support/TerminalQueries.h"

#include <cstdio>
#include <cstdlib>

namespace {

const QDateTime kBase(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
constexpr qint64 kStepSeconds = 4 * 60;

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: swipe_loop <database> <first step> [<steps>]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const long long first = std::atoll(argv[2]);
    const long long steps = argc > 3 ? std::atoll(argv[3]) : 100000;

    TestSupport::TerminalQueries queries(ConnectionString::forFile(path));
    AdoQuery& employees = queries.employees;
    try {
        queries.load(QStringLiteral("SELECT * FROM employ ORDER BY num"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "swipe_loop: %s\n", e.what());
        return 1;
    }
    const int count = employees.recordCount();
    if (count == 0) {
        std::fprintf(stderr, "swipe_loop: no employees\n");
        return 1;
    }

    ManualClock clock;
    for (long long step = first; step < first + steps; ++step) {
        employees.setRecNo(int(step % count));
        const QDateTime at = kBase.addSecs(step * kStepSeconds);
        clock.set(at);
        const SwipeOutcome outcome = CardSwipe::run(&employees, queries.records, clock);
        const QByteArray num = employees.fieldAsString(QStringLiteral("num")).toUtf8();
        switch (outcome.kind) {
        case SwipeOutcome::Kind::Recorded:
            std::printf("R %lld %s %lld\n", step, num.constData(),
                        static_cast<long long>(at.toSecsSinceEpoch()));
            break;
        case SwipeOutcome::Kind::AlreadyRecorded:
            std::printf("A %lld %s\n", step, num.constData());
            break;
        case SwipeOutcome::Kind::Nothing:
            std::printf("F %lld %s\n", step, outcome.errorMessage.toUtf8().constData());
            break;
        }
        std::fflush(stdout);
    }
    return 0;
}
