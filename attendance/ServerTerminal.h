#pragma once

#include "attendance/AttendanceTerminal.h"

#include <QStringList>

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
    void publishTrouble();

    std::unique_ptr<AttendanceLink> m_link;
    AdoConnection& m_connection;
    const Clock& m_clock;
    // What stands in the way for as long as its cause (the link's notice comes after it).
    QStringList m_trouble;
    // No server and no copy of the list: the list's trouble line says both, so the line
    // of the server's state does not say "out of reach" a second time.
    bool m_listUnreachable = false;
};
