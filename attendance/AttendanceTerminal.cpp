#include "attendance/AttendanceTerminal.h"

#include "attendance/AttendanceLink.h"
#include "attendance/FileTerminal.h"
#include "attendance/ServerSchemaCheck.h"
#include "attendance/ServerTerminal.h"
#include "attendance/TroubleText.h"
#include "query/AdoQuery.h"

std::unique_ptr<AttendanceTerminal>
AttendanceTerminal::forConnection(AdoConnection& connection, const QString& filePath, const Clock& clock)
{
    // Nothing is read from or written to a server whose tables are not what the terminal
    // needs.
    connection.setOpenCheck(ServerSchemaCheck::run);
    // A server may be out of reach: then the list comes from the terminal's own copy and
    // swipes wait in its outbox.
    if (auto link = AttendanceLink::forConnection(connection))
        return std::make_unique<ServerTerminal>(std::move(link), connection, clock);
    return std::make_unique<FileTerminal>(connection, filePath, clock);
}

void AttendanceTerminal::deleteCurrent(AdoQuery& employees)
{
    // A server's list read from the local copy is a snapshot the query itself refuses to
    // delete from; otherwise the row goes from the database the list came from.
    employees.deleteCurrent();
}

QString AttendanceTerminal::statusLine(const SwipeOutcome& outcome)
{
    // A swipe that recorded nothing says so, also when there was nobody to swipe for: a key
    // that asked the terminal to act never leaves the screen as it was.
    if (outcome.failed() || outcome.kind == SwipeOutcome::Kind::Nothing)
        return outcome.failedText.isEmpty() ? TroubleText::failedSwipe() : outcome.failedText;
    return outcome.statusText;
}

QString AttendanceTerminal::swipeTrouble(const SwipeOutcome& outcome)
{
    if (outcome.failed())
        return TroubleText::swipeTrouble(outcome.reason);
    if (outcome.kind == SwipeOutcome::Kind::Nothing)
        return TroubleText::swipeTrouble(TroubleText::noEmployeeReason());
    return {};
}

bool AttendanceTerminal::hadNobodyToSwipe(const SwipeOutcome& outcome)
{
    return !outcome.failed() && outcome.kind == SwipeOutcome::Kind::Nothing;
}

QString AttendanceTerminal::stateText(bool offline, int waiting, int refused)
{
    return TroubleText::serverState(offline, waiting, refused);
}
