#include "attendance/FileTerminal.h"

#include "attendance/AttendanceLink.h"
#include "attendance/TroubleText.h"
#include "query/CommFunc.h"
#include "query/Statements.h"

#include <QStringList>

FileTerminal::FileTerminal(AdoConnection& connection, const QString& filePath, const Clock& clock)
    : m_link(AttendanceLink::forFile(connection)), m_filePath(filePath), m_clock(clock)
{
    // The link reports from its forwarder's thread; the window hears it on its own.
    connect(m_link.get(), &AttendanceLink::stateChanged, this, &FileTerminal::showHeld, Qt::QueuedConnection);
    connect(m_link.get(), &AttendanceLink::refusedChanged, this, &AttendanceTerminal::refusedChanged,
            Qt::QueuedConnection);
}

FileTerminal::~FileTerminal() = default;

void FileTerminal::loadEmployees(AdoQuery* employees)
{
    // The operator is told why the list is empty, or why swipes will fail, at once.
    Exception::Trouble failure = Exception::Trouble::Unknown;
    if (CommFunc::OpenTableQuery(employees, Statements::kEmployTable, QString(), QString(), &failure) < 0)
        m_loadTrouble = TroubleText::startTrouble(m_filePath, failure);
    else
        m_loadTrouble = TroubleText::writeTrouble(m_filePath);
    m_held = m_link->isOffline();
    m_waiting = m_link->waitingCount();
    publishTrouble();
    emit refusedChanged(m_link->refusedCount());
    // A file is never "offline" in the server's sense: its state is said in words of its own.
    emit stateChanged(false, 0);
}

SwipeOutcome FileTerminal::swipe(AdoQuery* employees, AdoQuery& recordQry)
{
    const SwipeOutcome outcome = m_link->swipe(employees, recordQry, m_clock);
    // Said at once, not only when the queued signal arrives: the swipe that found the file
    // held shows it together with its status text.
    showHeld(m_link->isOffline(), m_link->waitingCount());
    return outcome;
}

void FileTerminal::showHeld(bool held, int waiting)
{
    if (held == m_held && waiting == m_waiting)
        return;
    m_held = held;
    m_waiting = waiting;
    publishTrouble();
}

void FileTerminal::publishTrouble()
{
    QStringList lines;
    for (const QString& line : {m_loadTrouble, TroubleText::heldFileState(m_held, m_waiting)})
        if (!line.isEmpty())
            lines.append(line);
    emit lastingTroubleChanged(lines.join(u'\n'));
}
