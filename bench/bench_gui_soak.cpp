// Soak: the real terminal window swipes once a second for TAVELO_SOAK_MINUTES minutes
// (default 1), Enter on the list moving to the next employee each time, the clock ticking
// meanwhile. Reports resident memory, open file descriptors and threads at the start and
// the end; a window that leaks shows it as growth here. The time per iteration is the
// swipe alone (key to status line), not the second waited after it.
//
//   QT_QPA_PLATFORM=offscreen TAVELO_SOAK_MINUTES=10 build/bench/bench_gui_soak

#include "app/EmployeeGrid.h"
#include "app/QuorelMain.h"
#include "app/SimpleStatusBar.h"
#include "query/AdoQuery.h"
#include "support/GuiBenchEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using GuiBench::secondsSince;
using GuiBench::Steady;

constexpr int kEmployees = 1000;

struct ProcessFigures
{
    qint64 residentKiB = 0;
    qint64 threads = 0;
    qint64 descriptors = 0;
};

qint64 statusField(const QByteArray& status, const QByteArray& name)
{
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

ProcessFigures processFigures()
{
    QFile file(QStringLiteral("/proc/self/status"));
    ProcessFigures figures;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray status = file.readAll();
        figures.residentKiB = statusField(status, "VmRSS");
        figures.threads = statusField(status, "Threads");
    }
    figures.descriptors =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
    return figures;
}

int soakSeconds()
{
    const int minutes = qEnvironmentVariableIsSet("TAVELO_SOAK_MINUTES")
                            ? qEnvironmentVariableIntValue("TAVELO_SOAK_MINUTES")
                            : 1;
    return std::max(1, minutes) * 60;
}

void pressKey(QWidget* target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

void BM_SwipeOncePerSecond(benchmark::State& state)
{
    GuiBenchEnvironment& environment = GuiBenchEnvironment::instance();
    QString error;
    if (!environment.useDatabase(kEmployees, &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    // Each swipe four minutes after the last, so every one of them writes a record.
    ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(8, 0), Qt::UTC));
    auto form = std::make_unique<TQuorelMainForm>(clock);
    form->show();
    QElapsedTimer waited;
    waited.start();
    GuiBench::processEventsUntil([&] { return GuiBench::isExposed(*form) && form->YgQry->isOpen(); }, waited);
    if (!form->YgQry->isOpen()) {
        state.SkipWithError("the list did not load");
        return;
    }
    QWidget* list = form->DBGridYg;
    list->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();

    const ProcessFigures start = processFigures();
    int recorded = 0;
    for (auto _ : state) {
        clock.advanceSecs(4 * 60);
        pressKey(list, Qt::Key_Down);
        const Steady::time_point swipeStart = Steady::now();
        pressKey(list, Qt::Key_Return);
        state.SetIterationTime(secondsSince(swipeStart));
        if (form->StatusLine->text().endsWith(QStringLiteral("刷卡成功！")))
            ++recorded;
        // The rest of the second belongs to the event loop: the clock ticks and repaints.
        QElapsedTimer second;
        second.start();
        while (second.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, int(1000 - second.elapsed()));
    }
    const ProcessFigures end = processFigures();
    form.reset();

    state.counters["swipes_recorded"] = recorded;
    state.counters["rss_start_KiB"] = double(start.residentKiB);
    state.counters["rss_end_KiB"] = double(end.residentKiB);
    state.counters["rss_growth_KiB"] = double(end.residentKiB - start.residentKiB);
    state.counters["fds_start"] = double(start.descriptors);
    state.counters["fds_end"] = double(end.descriptors);
    state.counters["threads_start"] = double(start.threads);
    state.counters["threads_end"] = double(end.threads);
    if (recorded != state.iterations())
        state.SkipWithError(qPrintable(
            QStringLiteral("only %1 of %2 swipes recorded").arg(recorded).arg(qint64(state.iterations()))));
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::RegisterBenchmark("BM_SwipeOncePerSecond", BM_SwipeOncePerSecond)
        ->Iterations(soakSeconds())
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    return GuiBench::runBenchmarks(argc, argv);
}
