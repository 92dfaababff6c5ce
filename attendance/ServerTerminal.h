#pragma once

#include "attendance/AttendanceTerminal.h"

class AttendanceLink;

// A terminal on a server database that may be out of reach: the list comes from the server
// or, while it cannot be reached, from the local copy; swipes go to the server or wait in
// the outbox (see AttendanceLink). At load the server's clock and its duplicate-test index
// are checked, as a line in the error log.
class ServerTerminal : public AttendanceTerminal
{
    Q_OBJECT
public:
    ServerTerminal(std::unique_ptr<AttendanceLink> link, AdoConnection& connection, const Clock& clock);
    ~ServerTerminal() override;

    void loadEmployees(AdoQuery* employees) override;
    SwipeOutcome swipe(AdoQuery* employees, AdoQuery& recordQry) override;

private:
    // The lasting trouble: what loading found, the store's trouble, and the link's notice.
    void showTrouble();

    std::unique_ptr<AttendanceLink> m_link;
    QString m_listTrouble;
    AdoConnection& m_connection;
    const Clock& m_clock;
};
