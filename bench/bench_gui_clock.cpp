// Cost of the clock's ticks: time per tick and the area each kind of tick repaints,
// against the full control. Run with --idle to just show the terminal clock until killed
// (for bench/idle_cpu.sh).
#include "app/TerminalClock.h"
#include "controls/RxClock.h"
#include "support/ManualClock.h"
#include "platform/SystemClock.h"
#include "platform/gui/FontSubstitutes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>

namespace {

const QDate kDay(2026, 3, 2);

struct Shown
{
    Shown()
    {
        clock.set(kDay, QTime(9, 5, 0));
        control = new RxClock(&window, clock);
        control->ticker().setEnabled(false);
        TerminalClock::configure(*control);
        window.resize(589, 441);
        window.show();
        QElapsedTimer waited;
        waited.start();
        while (!(window.windowHandle() && window.windowHandle()->isExposed()) && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        control->repaint();
    }
    ManualClock clock;
    QWidget window;
    RxClock* control = nullptr;
};

Shown& shown()
{
    static Shown s;
    return s;
}

qint64 area(const QRegion& region)
{
    qint64 sum = 0;
    for (const QRect& r : region)
        sum += qint64(r.width()) * r.height();
    return sum;
}

void report(benchmark::State& state, Shown& s)
{
    const qint64 full = qint64(s.control->width()) * s.control->height();
    const qint64 painted = area(s.control->lastPaintRegion());
    state.counters["repainted_px"] = double(painted);
    state.counters["control_px"] = double(full);
    state.counters["repainted_pct"] = 100.0 * double(painted) / double(full);
}

// Ticks within one minute: only the two second cells.
void BM_OrdinaryTick(benchmark::State& state)
{
    Shown& s = shown();
    s.clock.set(kDay, QTime(9, 5, 0));
    s.control->repaint();
    int second = 0;
    for (auto _ : state) {
        second = second % 58 + 1;
        s.clock.set(kDay, QTime(9, 5, second));
        s.control->tick();
    }
    report(state, s);
}
BENCHMARK(BM_OrdinaryTick);

// Each tick a new minute: second and minute cells.
void BM_MinuteTick(benchmark::State& state)
{
    Shown& s = shown();
    int minute = 0;
    for (auto _ : state) {
        minute = (minute + 1) % 60;
        s.clock.set(kDay, QTime(9, minute, minute % 2));
        s.control->tick();
    }
    report(state, s);
}
BENCHMARK(BM_MinuteTick);

// Each tick a new hour: the whole control.
void BM_HourTick(benchmark::State& state)
{
    Shown& s = shown();
    int hour = 0;
    for (auto _ : state) {
        hour = (hour + 1) % 24;
        s.clock.set(kDay, QTime(hour, 0, 0));
        s.control->tick();
    }
    report(state, s);
}
BENCHMARK(BM_HourTick);

// A tick in which the second has not changed yet: a time reading and nothing drawn.
void BM_IdleTick(benchmark::State& state)
{
    Shown& s = shown();
    s.clock.set(kDay, QTime(9, 5, 30));
    s.control->tick();
    for (auto _ : state)
        s.control->tick();
}
BENCHMARK(BM_IdleTick);

int showUntilKilled(QApplication& app)
{
    QWidget window;
    window.resize(589, 441);
    auto* control = new RxClock(&window, SystemClock::instance());
    TerminalClock::configure(*control);
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    const bool idle = argc > 1 && std::strcmp(argv[1], "--idle") == 0;
    if (!idle && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    FontSubstitutes::install();
    if (idle)
        return showUntilKilled(app);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
