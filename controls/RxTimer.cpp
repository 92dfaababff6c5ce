#include "controls/RxTimer.h"

#include "controls/RxTimerShared.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<bool> g_applicationTerminating{false};

void watchApplicationQuit()
{
    static QCoreApplication* connectedTo = nullptr;
    auto* app = QCoreApplication::instance();
    if (!app || app == connectedTo)
        return;
    connectedTo = app;
    QObject::connect(app, &QCoreApplication::aboutToQuit, [] { RxTimer::setApplicationTerminating(true); });
}

void workerLoop(std::shared_ptr<RxTimerShared> shared)
{
    QThread::Priority applied = QThread::NormalPriority;
    std::unique_lock lock(shared->mutex);
    while (!shared->stopRequested) {
        shared->wake.wait(lock, [&] { return shared->stopRequested || !shared->suspended; });
        if (shared->stopRequested)
            break;
        if (shared->priority != applied) {
            applied = shared->priority;
            if (QThread* self = QThread::currentThread())
                self->setPriority(applied);
        }
        // The sleep ends early only for a stop request, so a stopping timer never keeps
        // the process waiting for a worker.
        const auto sleep = std::chrono::milliseconds(shared->interval);
        shared->wake.wait_for(lock, sleep, [&] { return shared->stopRequested; });
        if (shared->stopRequested || shared->suspended || !shared->owner || !shared->enabled ||
            g_applicationTerminating.load())
            continue;

        shared->handoverPending = true;
        // Posting under the lock keeps the owner alive: its destructor takes the lock
        // before it lets go of the object, and Qt drops posted events of deleted objects.
        QObject* owner = shared->owner;
        QMetaObject::invokeMethod(owner, "runTick", Qt::QueuedConnection);
        shared->wake.wait(lock, [&] { return shared->stopRequested || !shared->handoverPending; });
        shared->handoverPending = false;
    }
}

} // namespace

RxTimer::RxTimer(QObject* parent) : QObject(parent), m_shared(std::make_shared<RxTimerShared>())
{
    watchApplicationQuit();
    m_shared->owner = this;
    std::thread(workerLoop, m_shared).detach();
}

RxTimer::~RxTimer()
{
    m_destroying = true;
    m_enabled = false;
    m_onTimer = nullptr;
    std::lock_guard lock(m_shared->mutex);
    m_shared->enabled = false;
    m_shared->owner = nullptr;
    m_shared->suspended = false;
    m_shared->stopRequested = true;
    m_shared->wake.notify_all();
}

void RxTimer::setApplicationTerminating(bool value)
{
    g_applicationTerminating.store(value);
}

bool RxTimer::applicationTerminating()
{
    return g_applicationTerminating.load();
}

bool RxTimer::workerRunning() const
{
    std::lock_guard lock(m_shared->mutex);
    return !m_shared->suspended && !m_shared->stopRequested;
}

void RxTimer::setEnabled(bool value)
{
    if (value == m_enabled)
        return;
    m_enabled = value;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->enabled = value;
    }
    reapply();
}

void RxTimer::setInterval(unsigned msecs)
{
    if (msecs == m_interval)
        return;
    m_interval = msecs;
    reapply();
}

void RxTimer::setThreaded(bool value)
{
    if (value == m_threaded)
        return;
    m_threaded = value;
    reapply();
}

void RxTimer::setThreadPriority(QThread::Priority value)
{
    if (value == m_priority)
        return;
    m_priority = value;
    if (m_threaded)
        reapply();
}

void RxTimer::setOnTimer(Handler handler)
{
    const bool had = bool(m_onTimer);
    m_onTimer = std::move(handler);
    if (had != bool(m_onTimer))
        reapply();
}

void RxTimer::reapply()
{
    std::lock_guard lock(m_shared->mutex);
    if (m_threaded) {
        if (m_windowTimer)
            m_windowTimer->stop();
        m_shared->suspended = true;
        m_shared->interval = m_interval;
        if (wantsTicks()) {
            m_shared->priority = m_priority;
            m_shared->suspended = false;
        }
        m_shared->wake.notify_all();
        return;
    }
    m_shared->suspended = true;
    m_shared->wake.notify_all();
    if (!m_windowTimer) {
        m_windowTimer = new QTimer(this);
        connect(m_windowTimer, &QTimer::timeout, this, &RxTimer::runTick);
    }
    m_windowTimer->stop();
    if (wantsTicks())
        m_windowTimer->start(int(m_interval));
}

void RxTimer::runTick()
{
    // Whatever the handler does, a waiting worker is released afterwards; the shared
    // block is held here because the handler may destroy this timer.
    const std::shared_ptr<RxTimerShared> shared = m_shared;
    struct Release
    {
        RxTimerShared& shared;
        ~Release()
        {
            std::lock_guard lock(shared.mutex);
            shared.handoverPending = false;
            shared.wake.notify_all();
        }
    } release{*shared};
    if (!m_enabled || m_destroying || !m_onTimer)
        return;
    ++m_ticksRun;
    const Handler handler = m_onTimer;
    handler();
}
