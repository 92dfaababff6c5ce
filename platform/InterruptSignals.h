#pragma once

#include <csignal>

// Ctrl+C (SIGINT) and SIGTERM, caught for as long as an object of this class lives, so that
// a command that writes can stop at a point of its choosing, roll back and tidy up instead
// of dying in the middle and leaving a half-made file or a journal behind. The handler only
// notes the signal; the command asks requested() where it may stop, and ends with
// endAsInterrupted(), which dies of the signal as the shell expects.
class InterruptSignals
{
public:
    InterruptSignals();
    ~InterruptSignals();
    InterruptSignals(const InterruptSignals&) = delete;
    InterruptSignals& operator=(const InterruptSignals&) = delete;

    // True once SIGINT or SIGTERM has arrived.
    static bool requested();
    // The signal that arrived ("SIGINT", "SIGTERM"), empty when none.
    static const char* name();
    // Restores the signals' default handling and raises the one that arrived: the process
    // ends as killed by it (exit status 130 for SIGINT in a shell). Returns only when no
    // signal arrived.
    static void endAsInterrupted();

private:
    struct sigaction m_oldInt;
    struct sigaction m_oldTerm;
};
