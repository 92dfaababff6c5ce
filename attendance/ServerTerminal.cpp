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
    connect(m_link.get(), &AttendanceLink::stateChanged, this, &AttendanceTerminal::stateChanged,
            Qt::QueuedConnection);
    connect(m_link.get(), &AttendanceLink::refusedChanged, this, &AttendanceTerminal::refusedChanged,
            Qt::QueuedConnection);
    connect(m_link.get(), &AttendanceLink::noticeChanged, this, &ServerTerminal::showTrouble,
            Qt::QueuedConnection);
}

void ServerTerminal::showTrouble()
{
    QStringList trouble;
    for (const QString& line : {m_listTrouble, m_link->storeTrouble(), m_link->notice()})
        if (!line.isEmpty())
            trouble.append(line);
    emit lastingTroubleChanged(trouble.join(u'\n'));
}

ServerTerminal::~ServerTerminal() = default;

void ServerTerminal::loadEmployees(AdoQuery* employees)
{
    m_listTrouble.clear();
    if (m_link->loadEmployees(employees) >= 0) {
        if (!m_link->isOffline()) {
            ServerChecks::CheckServerClock(&m_connection, m_clock);
            ServerChecks::CheckServerIndex(&m_connection);
        }
    } else {
        m_listTrouble = TroubleText::listTrouble(m_link->isOffline());
    }
    showTrouble();
    emit refusedChanged(m_link->refusedCount());
    emit stateChanged(m_link->isOffline(), m_link->waitingCount());
}

SwipeOutcome ServerTerminal::swipe(AdoQuery* employees, AdoQuery& recordQry)
{
    return m_link->swipe(employees, recordQry, m_clock);
}
