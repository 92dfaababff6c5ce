#include "platform/InterruptSignals.h"

#include <cstring>

namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void noteSignal(int signal)
{
    g_signal = signal;
}

} // namespace

InterruptSignals::InterruptSignals()
{
    g_signal = 0;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait for a child or a server returns, and the caller looks again.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

InterruptSignals::~InterruptSignals()
{
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
}

bool InterruptSignals::requested()
{
    return g_signal != 0;
}

const char* InterruptSignals::name()
{
    switch (g_signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default:
        return "";
    }
}

void InterruptSignals::endAsInterrupted()
{
    const int signal = g_signal;
    if (signal == 0)
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    std::raise(signal);
}
