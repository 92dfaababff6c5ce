#include "attendance/FileTerminal.h"

#include "attendance/CardSwipe.h"
#include "attendance/TroubleText.h"
#include "query/CommFunc.h"
#include "query/Statements.h"

FileTerminal::FileTerminal(const QString& filePath, const Clock& clock) : m_filePath(filePath), m_clock(clock)
{
}

void FileTerminal::loadEmployees(AdoQuery* employees)
{
    // The operator is told why the list is empty, or why swipes will fail, at once.
    Exception::Trouble failure = Exception::Trouble::Unknown;
    if (CommFunc::OpenTableQuery(employees, Statements::kEmployTable, QString(), QString(), &failure) < 0)
        emit lastingTroubleChanged(TroubleText::startTrouble(m_filePath, failure));
    else
        emit lastingTroubleChanged(TroubleText::writeTrouble(m_filePath));
    emit refusedChanged(0);
    emit stateChanged(false, 0);
}

SwipeOutcome FileTerminal::swipe(AdoQuery* employees, AdoQuery& recordQry)
{
    return CardSwipe::run(employees, recordQry, m_clock);
}
