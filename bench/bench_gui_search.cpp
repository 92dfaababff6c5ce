// A digit typed into the number box with 100,000 employees loaded: from the key events to
// the list centred on the first matching employee and repainted. Also the first key
// release after the list opens, which builds the search index.
#include "app/EmployeeGrid.h"
#include "app/NumberEdit.h"
#include "app/QuorelMain.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "interchange/DevSchema.h"
#include "query/Statements.h"
#include "support/ShownTerminal.h"

#include <QApplication>
#include <QKeyEvent>

#include <benchmark/benchmark.h>
#include <memory>
#include <random>
#include <vector>

namespace {

using GuiBench::secondsSince;
using GuiBench::Steady;

constexpr int kEmployees = 100000;

// A shown terminal window over 100,000 generated employees, the number box focused.
class ShownWindow : public ShownTerminal
{
public:
    ShownWindow() : ShownTerminal(kEmployees), employees(DevSchema::generatedEmployees(kEmployees))
    {
        if (form)
            form->EditYg->setFocus(Qt::OtherFocusReason);
    }

    // Loads the list again, as the show sequence does; the search index goes with the
    // old snapshot.
    void reload() { CommFunc::OpenTableQuery(form->YgQry, Statements::kEmployTable, QString(), QString()); }

    // The employees in the database, for typing their numbers.
    const QList<DevSchema::Employee> employees;
};

std::unique_ptr<ShownWindow>& windowHolder()
{
    static std::unique_ptr<ShownWindow> w;
    return w;
}

ShownWindow& window()
{
    auto& w = windowHolder();
    if (!w)
        w = std::make_unique<ShownWindow>();
    return *w;
}

// Prefixes of existing numbers, one to all of their digits, in a fixed random order.
std::vector<QString> typedPrefixes(const ShownWindow& w, int count)
{
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> pick(0, int(w.employees.size()) - 1);
    std::vector<QString> prefixes;
    prefixes.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const QString& num = w.employees[pick(random)].num;
        std::uniform_int_distribution<int> length(1, int(num.size()));
        prefixes.push_back(num.left(length(random)));
    }
    return prefixes;
}

// Types the last character of `prefix` into a box that holds the rest of it.
void typeLastDigit(NumberEdit* box, const QString& prefix)
{
    const QChar digit = prefix.back();
    const int key = Qt::Key_0 + digit.digitValue();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(digit));
    QApplication::sendEvent(box, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(digit));
    QApplication::sendEvent(box, &release);
}

// The list's current row starts with the prefix and sits in the middle of the visible
// rows, as far as the data reaches.
bool centredOn(const ShownWindow& w, const QString& prefix)
{
    const AdoQuery* query = w.form->YgQry;
    const EmployeeGrid* grid = w.form->DBGridYg;
    const int row = query->recNo();
    const int n = grid->visibleRowCount();
    const int expectedTop = std::clamp(row - (n - 1) / 2, 0, std::max(0, query->recordCount() - n));
    return query->fieldAsString(Statements::kNum).startsWith(prefix) && grid->topRow() == expectedTop;
}

// The key press and release of a digit, the search and the centring; with range(0) == 1
// also the synchronous repaint of the list. The box is given the rest of the prefix
// untimed.
void BM_NumberBoxKey(benchmark::State& state)
{
    ShownWindow& w = window();
    if (!w.error().isEmpty()) {
        state.SkipWithError(qPrintable(w.error()));
        return;
    }
    const bool repaint = state.range(0) != 0;
    NumberEdit* box = w.form->EditYg;
    QWidget* list = w.form->DBGridYg->viewport();
    // The index is built on the first search; that cost is measured separately.
    box->setText(QStringLiteral("0"));
    typeLastDigit(box, QStringLiteral("00"));
    list->repaint();
    const std::vector<QString> prefixes = typedPrefixes(w, 4096);
    size_t next = 0;
    for (auto _ : state) {
        const QString& prefix = prefixes[next++ % prefixes.size()];
        box->setText(prefix.chopped(1));
        const Steady::time_point start = Steady::now();
        typeLastDigit(box, prefix);
        if (repaint)
            list->repaint();
        state.SetIterationTime(secondsSince(start));
        if (box->text() != prefix || !centredOn(w, prefix)) {
            state.SkipWithError(
                qPrintable(QStringLiteral("typing %1 did not centre the list on it").arg(prefix)));
            return;
        }
    }
    state.counters["rows"] = w.form->YgQry->recordCount();
}
BENCHMARK(BM_NumberBoxKey)
    ->ArgName("repaint")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The first key release after the list has been loaded: the search index over 100,000
// numbers is built in it. Loading the list again between runs is not timed.
void BM_FirstKeyAfterOpen(benchmark::State& state)
{
    ShownWindow& w = window();
    if (!w.error().isEmpty()) {
        state.SkipWithError(qPrintable(w.error()));
        return;
    }
    NumberEdit* box = w.form->EditYg;
    QWidget* list = w.form->DBGridYg->viewport();
    const std::vector<QString> prefixes = typedPrefixes(w, 64);
    size_t next = 0;
    double reloadSeconds = 0;
    for (auto _ : state) {
        const Steady::time_point reloadStart = Steady::now();
        w.reload();
        reloadSeconds += secondsSince(reloadStart);
        list->repaint();
        const QString& prefix = prefixes[next++ % prefixes.size()];
        box->setText(prefix.chopped(1));
        const Steady::time_point start = Steady::now();
        typeLastDigit(box, prefix);
        list->repaint();
        state.SetIterationTime(secondsSince(start));
        if (!centredOn(w, prefix)) {
            state.SkipWithError(
                qPrintable(QStringLiteral("typing %1 did not centre the list on it").arg(prefix)));
            return;
        }
    }
    state.counters["rows"] = w.form->YgQry->recordCount();
    state.counters["reload_ms"] = 1000.0 * reloadSeconds / double(state.iterations());
}
BENCHMARK(BM_FirstKeyAfterOpen)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The window goes while the application still exists.
    return GuiBench::runBenchmarks(argc, argv, [] { windowHolder().reset(); });
}
