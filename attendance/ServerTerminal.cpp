#include "attendance/ServerTerminal.h"

#include "attendance/AttendanceLink.h"
#include "attendance/ServerChecks.h"
#include "attendance/TroubleText.h"

#include <QStringList>
#include <QTimer>

ServerTerminal::ServerTerminal(std::unique_ptr<AttendanceLink> link, AdoConnection& connection,
                               const Clock& clock)
    : m_link(std::move(link)), m_connection(connection), m_clock(clock)
{
    // The link reports from its forwarder's thread; the window hears it on its own.
    connect(
        m_link.get(), &AttendanceLink::stateChanged, this,
        [this](bool offline, int waiting) {
            emit stateChanged((offline || m_listFromCopy) && !(m_listUnreachable && waiting == 0), waiting);
        },
        Qt::QueuedConnection);
    connect(m_link.get(), &AttendanceLink::refusedChanged, this, &TerminalWay::refusedChanged,
            Qt::QueuedConnection);
    // What the link did on its own (swipes sent again to a new server, a damaged store mended)
    // stands on the trouble line for a while.
    connect(m_link.get(), &AttendanceLink::noticeChanged, this, &ServerTerminal::publishTrouble,
            Qt::QueuedConnection);
    connect(
        m_link.get(), &AttendanceLink::serverAnswersAgain, this,
        [this] { QTimer::singleShot(m_reloadPauseMs, this, &TerminalWay::listWanted); },
        Qt::QueuedConnection);
}

ServerTerminal::~ServerTerminal() = default;

void ServerTerminal::loadEmployees(AdoQuery* employees, CardRegister& cards)
{
    QStringList trouble;
    m_listUnreachable = false;
    const int rows = m_link->loadEmployees(employees, &cards);
    m_listFromCopy = m_link->listFoundServerSilent();
    m_reloadPauseMs =
        !m_listFromCopy ? 0 : qBound(kFirstReloadPauseMs, m_reloadPauseMs * 2, kLongestReloadPauseMs);
    if (rows >= 0) {
        if (!m_link->isOffline()) {
            ServerChecks::CheckServerClock(&m_connection, m_clock);
            ServerChecks::CheckServerIndex(&m_connection);
        }
    } else {
        trouble.append(TroubleText::listTrouble(m_link->isOffline()));
        m_listUnreachable = m_link->isOffline();
    }
    if (!m_link->storeTrouble().isEmpty())
        trouble.append(m_link->storeTrouble());
    m_trouble = trouble;
    publishTrouble();
    emit refusedChanged(m_link->refusedCount());
    emit stateChanged((m_link->isOffline() || m_listFromCopy) &&
                          !(m_listUnreachable && m_link->waitingCount() == 0),
                      m_link->waitingCount());
}

void ServerTerminal::publishTrouble()
{
    QStringList lines = m_trouble;
    if (!m_link->notice().isEmpty())
        lines.append(m_link->notice());
    emit lastingTroubleChanged(lines.join(u'\n'));
}

SwipeOutcome ServerTerminal::swipe(AdoQuery* employees, AdoQuery& recordQry)
{
    return m_link->swipe(employees, recordQry, m_clock);
}
