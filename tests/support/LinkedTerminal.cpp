#include "support/LinkedTerminal.h"

#include "query/ConnectionString.h"
#include "query/Statements.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace TestSupport {

namespace {

AttendanceLink::Options withClock(AttendanceLink::Options options, const ManualClock& clock,
                                  LinkedTerminal::LinkClock linkClock)
{
    if (linkClock == LinkedTerminal::LinkClock::Manual)
        options.clock = &clock;
    return options;
}

} // namespace

LinkedTerminal::LinkedTerminal(const QString& conninfo, const QString& storePath,
                               AttendanceLink::Options options, LinkClock linkClock)
    : TerminalQueries(ConnectionString::forServer(conninfo))
{
    options = withClock(options, clock, linkClock);
    link = storePath.isEmpty() ? AttendanceLink::forConnection(connection, options)
                               : std::make_unique<AttendanceLink>(connection, storePath, options);
}

AttendanceLink::Options LinkedTerminal::fast()
{
    AttendanceLink::Options options;
    options.firstRetryMs = 100;
    options.longestRetryMs = 500;
    return options;
}

SwipeOutcome LinkedTerminal::swipe(const QString& num, const QDateTime& at)
{
    if (!employees.locate(Statements::kNum, num))
        ADD_FAILURE() << "no employee " << num.toStdString();
    clock.set(at);
    return link->swipe(&employees, records, clock);
}

SwipeOutcome LinkedTerminal::swipe(const QString& num, const char* when)
{
    return swipe(num, clockAt(when));
}

bool LinkedTerminal::settled(int ms)
{
    return waitUntil([this] { return !link->isOffline() && link->waitingCount() == 0; }, ms);
}

} // namespace TestSupport
