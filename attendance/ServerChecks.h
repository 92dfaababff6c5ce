#pragma once

#include <QString>

class AdoConnection;
class Clock;

// What a terminal checks on a server when it has loaded the list from it: the server's clock
// against its own and the index the duplicate test needs. Neither stops the terminal; each
// leaves one line in the error log for the site to act on.
class ServerChecks
{
public:
    // When the connection is to a server: compares the terminal's clock with the server's,
    // as instants (each in its own time zone), and when they are more than
    // kClockToleranceSecs apart appends one error-log line naming both times, each in its
    // zone. The swipe keeps using the terminal's clock; the line is for a site to notice a
    // drifting PC. Returns false when it logged. A server that cannot be asked logs
    // nothing here; the log's own FileError passes through.
    static bool CheckServerClock(AdoConnection* connection, const Clock& clock);
    static constexpr int kClockToleranceSecs = 60;
    static const QString kServerClockStatement;
    // When the connection is to a server whose sgdjb has no index the duplicate test can
    // use: one error-log line with the CREATE INDEX to run, and false. The terminal works
    // on regardless, slower as the table grows.
    static bool CheckServerIndex(AdoConnection* connection);
    static const QString kServerIndexStatement;
};
