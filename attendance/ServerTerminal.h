#pragma once

#include "attendance/TerminalWay.h"

#include <QStringList>

#include <memory>

class AdoConnection;
class AttendanceLink;
class Clock;

// A terminal on a server database that may be out of reach: the list comes from the server
// or, while it cannot be reached, from the local copy; swipes go to the server or wait in
// the outbox (see AttendanceLink). At load the server's clock and its duplicate-test index
// are checked, as a line in the error log.
class ServerTerminal : public TerminalWay
{
    Q_OBJECT
public:
    ServerTerminal(std::unique_ptr<AttendanceLink> link, AdoConnection& connection, const Clock& clock);
    ~ServerTerminal() override;

    void loadEmployees(AdoQuery* employees, CardRegister& cards) override;
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
    // The list came from the copy (or none came) because the server did not answer: the
    // line says the terminal is offline until a load reaches the server, also while the
    // forwarder finds it answering again.
    bool m_listFromCopy = false;
    // Before the list is loaded again once the server answers: none after a load that
    // reached the server, then doubling with each load that still found it silent (a
    // server that takes connections but not the list's statement), so that the window
    // does not wait on it again and again.
    int m_reloadPauseMs = 0;
    static constexpr int kFirstReloadPauseMs = 1000;
    static constexpr int kLongestReloadPauseMs = 60000;
};
