#pragma once

#include <QThread>
#include <condition_variable>
#include <mutex>

class RxTimer;

// What an RxTimer and its worker thread share. The worker holds its own reference, so the
// block outlives the timer until the worker has seen the stop request.
struct RxTimerShared
{
    std::mutex mutex;
    std::condition_variable wake;
    // The GUI-side receiver of handovers; null once the timer is being destroyed.
    RxTimer* owner = nullptr;
    bool stopRequested = false;
    bool suspended = true;
    bool enabled = true;
    unsigned interval = 1000;
    QThread::Priority priority = QThread::NormalPriority;
    // A tick was posted to the GUI thread and has not returned yet.
    bool handoverPending = false;
};
