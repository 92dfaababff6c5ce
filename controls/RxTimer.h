#pragma once

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>

class QTimer;
struct RxTimerShared;

// A periodic timer whose ticks always run on the GUI thread. In threaded mode a worker
// thread sleeps one interval per pass and then hands the tick over with a blocking call: it
// waits until the GUI thread has run the tick, so at most one tick is ever pending and a
// busy GUI thread catches up with a single tick. Without Threaded an ordinary QTimer paces
// the ticks instead.
//
// The worker never touches the timer object: it shares a small state block with it. The
// destructor clears Enabled, detaches the handler and asks the worker to stop; a worker
// waiting for a handover is released at once, so nothing ever waits for the other side.
class RxTimer : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void()>;

    explicit RxTimer(QObject* parent = nullptr);
    ~RxTimer() override;

    bool enabled() const { return m_enabled; }
    void setEnabled(bool value);
    unsigned interval() const { return m_interval; }
    void setInterval(unsigned msecs);
    bool threaded() const { return m_threaded; }
    void setThreaded(bool value);
    QThread::Priority threadPriority() const { return m_priority; }
    void setThreadPriority(QThread::Priority value);
    bool hasOnTimer() const { return bool(m_onTimer); }
    void setOnTimer(Handler handler);

    // Once set, no worker of any timer hands over another tick. Set from
    // QCoreApplication::aboutToQuit.
    static void setApplicationTerminating(bool value);
    static bool applicationTerminating();

    // Ticks that reached the handler; for tests and measurements.
    int ticksRun() const { return m_ticksRun; }
    // True while the worker runs (not suspended, not stopped).
    bool workerRunning() const;

private slots:
    void runTick();

private:
    void reapply();
    bool wantsTicks() const { return m_interval != 0 && m_enabled && m_onTimer; }

    bool m_enabled = true;
    unsigned m_interval = 1000;
    Handler m_onTimer;
    QTimer* m_windowTimer = nullptr;
    bool m_threaded = true;
    QThread::Priority m_priority = QThread::NormalPriority;
    bool m_destroying = false;
    int m_ticksRun = 0;
    std::shared_ptr<RxTimerShared> m_shared;
};
