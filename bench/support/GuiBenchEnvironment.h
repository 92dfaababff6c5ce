#pragma once

#include "app/MessageBox.h"
#include "app/TerminalApplication.h"
#include "interchange/DevSchema.h"
#include "log/ErrMsgForm.h"
#include "support/ManualClock.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>

#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>
#include <set>

// Settings, error log and databases of a GUI benchmark in a temporary folder, so a window
// opens a database of the wanted size and nothing of the user's is read or written. One
// per process: the settings path and the error log are process-wide.
class GuiBenchEnvironment
{
public:
    static GuiBenchEnvironment& instance()
    {
        static GuiBenchEnvironment environment;
        return environment;
    }

    // Points the settings at a database of `employees` generated employees, created on
    // first use.
    bool useDatabase(int employees, QString* error)
    {
        const QString folder = m_dir.filePath(QStringLiteral("db%1").arg(employees));
        if (!m_created.contains(employees)) {
            QDir().mkpath(folder);
            if (!DevSchema::createDatabase(folder + QStringLiteral("/kq.mdb"),
                                           DevSchema::generatedEmployees(employees), error))
                return false;
            m_created.insert(employees);
        }
        QSettings store(SettingsStore::userStorePath(), QSettings::IniFormat);
        store.setValue(QStringLiteral("Software/Microsoft/Windows/CurrentVersion/Kelvaro/mdb"), folder);
        return true;
    }

    const Clock& clock() const { return m_clock; }

private:
    GuiBenchEnvironment()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           m_dir.filePath(QStringLiteral("config")));
        ErrMsgForm::instance().setLogFileName(m_dir.filePath(QStringLiteral("error.log")));
        MessageBox::setRecording(true);
        MessageBox::clearShown();
        // An error box must not block a run; its appearance fails the benchmark instead.
        for (int i = 0; i < 16; ++i)
            MessageBox::setNextAnswer(QMessageBox::Ok);
    }

    QTemporaryDir m_dir;
    ManualClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0), Qt::UTC)};
    std::set<int> m_created;
};

namespace GuiBench {

using Steady = std::chrono::steady_clock;

inline double secondsSince(Steady::time_point start)
{
    return std::chrono::duration<double>(Steady::now() - start).count();
}

inline double millisecondsSince(Steady::time_point start)
{
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

inline bool isExposed(const QWidget& window)
{
    return window.windowHandle() && window.windowHandle()->isExposed();
}

// Processes events until `done` holds or five seconds have passed since `waited` started:
// a window system that never reports back must not hang a run.
template <typename Done> void processEventsUntil(Done done, const QElapsedTimer& waited)
{
    while (!done() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The benchmarks need no screen unless the caller asks for one.
inline void useOffscreenUnlessSet()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Runs the registered benchmarks under the terminal's application object. `beforeQuit`
// runs while the application still exists, so windows kept between benchmarks can go.
inline int runBenchmarks(int argc, char** argv, const std::function<void()>& beforeQuit = {})
{
    useOffscreenUnlessSet();
    TerminalApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (beforeQuit)
        beforeQuit();
    return 0;
}

} // namespace GuiBench
