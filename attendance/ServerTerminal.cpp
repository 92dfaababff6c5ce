#include "attendance/ServerTerminal.h"

#include "attendance/AttendanceLink.h"
#include "attendance/ServerChecks.h"
#include "attendance/TroubleText.h"

#include <QStringList>

ServerTerminal::ServerTerminal(std::unique_ptr<AttendanceLink> link, AdoConnection& connection,
                               const Clock& clock)
    : m_link(std::move(link)), m_connection(connection), m_clock(clock)
{
    // The link reports from its forwarder's thread; the window hears it on its own.
    connect(m_link.get(), &AttendanceLink::stateChanged, this, &TerminalWay::stateChanged,
            Qt::QueuedConnection);
    connect(m_link.get(), &AttendanceLink::refusedChanged, this, &TerminalWay::refusedChanged,
            Qt::QueuedConnection);
}

ServerTerminal::~ServerTerminal() = default;

void ServerTerminal::loadEmployees(AdoQuery* employees, CardRegister& cards)
{
    QStringList trouble;
    if (m_link->loadEmployees(employees, &cards) >= 0) {
        if (!m_link->isOffline()) {
            ServerChecks::CheckServerClock(&m_connection, m_clock);
            ServerChecks::CheckServerIndex(&m_connection);
        }
    } else {
        trouble.append(TroubleText::listTrouble(m_link->isOffline()));
    }
    if (!m_link->storeTrouble().isEmpty())
        trouble.append(m_link->storeTrouble());
    emit lastingTroubleChanged(trouble.join(u'\n'));
    emit refusedChanged(m_link->refusedCount());
    emit stateChanged(m_link->isOffline(), m_link->waitingCount());
}

SwipeOutcome ServerTerminal::swipe(AdoQuery* employees, AdoQuery& recordQry)
{
    return m_link->swipe(employees, recordQry, m_clock);
}
