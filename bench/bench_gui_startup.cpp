// Start-up of the terminal window: construction, show (which loads the employee list) and
// the wait until the window system reports it exposed and the list has painted, at 1,000
// and 100,000 employees. Run with --once to time one whole process start instead (for
// bench/startup_time.sh): it prints the milliseconds from main() to the painted list.
#include "app/EmployeeGrid.h"
#include "app/MessageBox.h"
#include "app/QuorelMain.h"
#include "app/TerminalApplication.h"
#include "query/AdoQuery.h"
#include "support/GuiBenchEnvironment.h"

#include <QElapsedTimer>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using GuiBench::millisecondsSince;
using GuiBench::Steady;

GuiBenchEnvironment& world()
{
    return GuiBenchEnvironment::instance();
}

// Counts paint events of a widget.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct StartTimes
{
    double constructed = 0; // ms from start
    double shown = 0;       // end of show(): the list is loaded
    double exposed = 0;     // the window system reports the window exposed
    double painted = 0;     // the list's first paint is done
    bool ok = false;
};

// Constructs and shows a window, keeps it until `form` is reset by the caller.
StartTimes startWindow(std::unique_ptr<TQuorelMainForm>& form, Steady::time_point start)
{
    StartTimes t;
    form = std::make_unique<TQuorelMainForm>(world().clock());
    t.constructed = millisecondsSince(start);
    PaintCounter counter;
    form->DBGridYg->viewport()->installEventFilter(&counter);
    form->show();
    t.shown = millisecondsSince(start);
    QElapsedTimer waited;
    waited.start();
    GuiBench::processEventsUntil([&] { return GuiBench::isExposed(*form); }, waited);
    t.exposed = millisecondsSince(start);
    GuiBench::processEventsUntil([&] { return counter.paints > 0; }, waited);
    t.painted = millisecondsSince(start);
    form->DBGridYg->viewport()->removeEventFilter(&counter);
    t.ok = counter.paints > 0 && form->YgQry->isOpen();
    return t;
}

void BM_StartupToShownWindow(benchmark::State& state)
{
    const int employees = int(state.range(0));
    QString error;
    if (!world().useDatabase(employees, &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    StartTimes sum;
    int rows = 0;
    for (auto _ : state) {
        std::unique_ptr<TQuorelMainForm> form;
        const StartTimes t = startWindow(form, Steady::now());
        state.SetIterationTime(t.painted / 1000.0);
        if (!t.ok) {
            state.SkipWithError("the window did not show the list");
            return;
        }
        rows = form->YgQry->recordCount();
        sum.constructed += t.constructed;
        sum.shown += t.shown;
        sum.exposed += t.exposed;
        sum.painted += t.painted;
        form.reset();
        QCoreApplication::processEvents();
    }
    if (!MessageBox::shown().empty()) {
        state.SkipWithError(qPrintable(MessageBox::shown().back().text));
        return;
    }
    const double n = double(state.iterations());
    state.counters["rows"] = rows;
    state.counters["construct_ms"] = sum.constructed / n;
    state.counters["show_end_ms"] = sum.shown / n;
    state.counters["exposed_ms"] = sum.exposed / n;
    state.counters["painted_ms"] = sum.painted / n;
}
BENCHMARK(BM_StartupToShownWindow)->Arg(1000)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);

// One cold start in a fresh process: application object, window, list painted.
int startOnce(int argc, char** argv, Steady::time_point processStart)
{
    TerminalApplication app(argc, argv);
    const double application = millisecondsSince(processStart);
    int employees = 1000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--employees") == 0)
            employees = std::atoi(argv[i + 1]);
    // The database is made before the clock starts again: its creation is no part of a
    // start.
    QString error;
    if (!world().useDatabase(employees, &error)) {
        std::fprintf(stderr, "startup: %s\n", qPrintable(error));
        return 1;
    }
    const Steady::time_point windowStart = Steady::now();
    std::unique_ptr<TQuorelMainForm> form;
    const StartTimes t = startWindow(form, windowStart);
    if (!t.ok || !MessageBox::shown().empty()) {
        std::fprintf(stderr, "startup: the window did not show the list\n");
        return 1;
    }
    std::printf("employees=%d application_ms=%.2f construct_ms=%.2f show_end_ms=%.2f exposed_ms=%.2f "
                "painted_ms=%.2f total_ms=%.2f\n",
                employees, application, t.constructed, t.shown, t.exposed, t.painted,
                application + t.painted);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const Steady::time_point processStart = Steady::now();
    GuiBench::useOffscreenUnlessSet();
    if (argc > 1 && std::strcmp(argv[1], "--once") == 0)
        return startOnce(argc, argv, processStart);
    return GuiBench::runBenchmarks(argc, argv);
}
