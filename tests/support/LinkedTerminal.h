#pragma once

#include "attendance/AttendanceLink.h"
#include "attendance/SwipeOutcome.h"
#include "support/ManualClock.h"
#include "support/TerminalQueries.h"

#include <QDateTime>
#include <QString>

#include <memory>

namespace TestSupport {

// One server terminal as the window runs it: its connection and queries, the link (outbox,
// forwarder, confirmed swipes) between them, and a clock the test sets for each swipe.
struct LinkedTerminal : TerminalQueries
{
    // Whose clock the link keeps its own time by (retention, the store's confirmations):
    // the test's, or the system's.
    enum class LinkClock
    {
        Manual,
        System
    };

    // An empty storePath takes the store the window keeps for that server.
    LinkedTerminal(const QString& conninfo, const QString& storePath,
                   AttendanceLink::Options options = fast(), LinkClock linkClock = LinkClock::System);

    // Retries within a test's patience.
    static AttendanceLink::Options fast();

    // Swipes for the employee of that number at that moment, as a click on the list does.
    SwipeOutcome swipe(const QString& num, const QDateTime& at);
    SwipeOutcome swipe(const QString& num, const char* when);
    // Online again with nothing waiting, within ms.
    bool settled(int ms = 30000);

    ManualClock clock{QDateTime(QDate(2026, 3, 2), QTime(7, 0), Qt::UTC)};
    std::unique_ptr<AttendanceLink> link;
};

} // namespace TestSupport
