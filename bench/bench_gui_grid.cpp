// The employee list's cost does not grow with the number of employees: scrolling a page,
// Page Down and End, each with the synchronous repaint of the list, at 100 and 100,000
// employees in a shown terminal window.
#include "app/EmployeeGrid.h"
#include "app/QuorelMain.h"
#include "query/AdoQuery.h"
#include "support/ShownTerminal.h"

#include <QApplication>
#include <QKeyEvent>

#include <benchmark/benchmark.h>
#include <map>
#include <memory>

namespace {

using GuiBench::secondsSince;
using GuiBench::Steady;

// A shown terminal window, its list focused as a user scrolling it would have it.
class ShownWindow : public ShownTerminal
{
public:
    explicit ShownWindow(int employees) : ShownTerminal(employees)
    {
        if (form)
            grid()->setFocus(Qt::OtherFocusReason);
    }

    EmployeeGrid* grid() const { return form->DBGridYg; }
    AdoQuery* query() const { return form->YgQry; }
};

// The settings are read only while a window shows, so windows of different sizes can
// stay open side by side.
std::map<int, std::unique_ptr<ShownWindow>>& windows()
{
    static std::map<int, std::unique_ptr<ShownWindow>> open;
    return open;
}

ShownWindow& window(int employees)
{
    auto& w = windows()[employees];
    if (!w)
        w = std::make_unique<ShownWindow>(employees);
    return *w;
}

void sendKey(QWidget* target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

// The window for the benchmark's row count, or null after marking the run skipped.
ShownWindow* windowOrSkip(benchmark::State& state)
{
    ShownWindow& w = window(int(state.range(0)));
    if (!w.error().isEmpty()) {
        state.SkipWithError(qPrintable(w.error()));
        return nullptr;
    }
    return &w;
}

void backToTop(EmployeeGrid* grid)
{
    grid->moveToRow(0);
    grid->setTopRow(0);
}

void reportRows(benchmark::State& state, ShownWindow& w)
{
    state.counters["rows"] = w.query()->recordCount();
    state.counters["visible_rows"] = w.grid()->visibleRowCount();
}

// The scroll bar moves the list down by a page; back to the top after the last page.
void BM_GridScrollPage(benchmark::State& state)
{
    ShownWindow* found = windowOrSkip(state);
    if (!found)
        return;
    ShownWindow& w = *found;
    EmployeeGrid* grid = w.grid();
    const int page = grid->visibleRowCount();
    const int maxTop = std::max(0, w.query()->recordCount() - page);
    grid->setTopRow(0);
    for (auto _ : state) {
        const int top = grid->topRow() >= maxTop ? 0 : grid->topRow() + page;
        grid->setTopRow(top);
        grid->viewport()->repaint();
    }
    reportRows(state, w);
}
BENCHMARK(BM_GridScrollPage)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Page Down on the list, from the first row to the last; the return to the top is not
// timed.
void BM_GridPageDown(benchmark::State& state)
{
    ShownWindow* found = windowOrSkip(state);
    if (!found)
        return;
    ShownWindow& w = *found;
    EmployeeGrid* grid = w.grid();
    const int last = w.query()->recordCount() - 1;
    backToTop(grid);
    for (auto _ : state) {
        if (w.query()->recNo() >= last) {
            backToTop(grid);
            grid->viewport()->repaint();
        }
        const Steady::time_point start = Steady::now();
        sendKey(grid, Qt::Key_PageDown);
        grid->viewport()->repaint();
        state.SetIterationTime(secondsSince(start));
    }
    reportRows(state, w);
}
BENCHMARK(BM_GridPageDown)->Arg(100)->Arg(100000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// End from the first row; the return to the first row is not timed.
void BM_GridEnd(benchmark::State& state)
{
    ShownWindow* found = windowOrSkip(state);
    if (!found)
        return;
    ShownWindow& w = *found;
    EmployeeGrid* grid = w.grid();
    const int last = w.query()->recordCount() - 1;
    for (auto _ : state) {
        backToTop(grid);
        grid->viewport()->repaint();
        const Steady::time_point start = Steady::now();
        sendKey(grid, Qt::Key_End);
        grid->viewport()->repaint();
        state.SetIterationTime(secondsSince(start));
        if (w.query()->recNo() != last || grid->topRow() + grid->visibleRowCount() <= last) {
            state.SkipWithError("End did not show the last row");
            return;
        }
    }
    reportRows(state, w);
}
BENCHMARK(BM_GridEnd)->Arg(100)->Arg(100000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The repaint alone, for reference.
void BM_GridRepaint(benchmark::State& state)
{
    ShownWindow* found = windowOrSkip(state);
    if (!found)
        return;
    ShownWindow& w = *found;
    for (auto _ : state)
        w.grid()->viewport()->repaint();
    reportRows(state, w);
}
BENCHMARK(BM_GridRepaint)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    // The windows go while the application still exists.
    return GuiBench::runBenchmarks(argc, argv, [] { windows().clear(); });
}
