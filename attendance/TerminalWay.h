#pragma once

#include "attendance/SwipeOutcome.h"

#include <QObject>
#include <QString>

class AdoQuery;
class CardRegister;

// How a terminal reaches its database, behind AttendanceTerminal: a file's way (FileTerminal)
// or a server's, with its local copy and outbox (ServerTerminal). What the window shows
// about it arrives through the signals, which AttendanceTerminal passes on.
class TerminalWay : public QObject
{
    Q_OBJECT
public:
    ~TerminalWay() override = default;

    // Loads "SELECT * FROM employ" into the query and the card holders into cards; a failure
    // of the list is logged, leaves the query closed, and is said through
    // lastingTroubleChanged, as is anything else that stands in the way of recording swipes.
    // Emits the whole state once before it returns.
    virtual void loadEmployees(AdoQuery* employees, CardRegister& cards) = 0;
    // One card swipe of the current employee of `employees`; never throws.
    virtual SwipeOutcome swipe(AdoQuery* employees, AdoQuery& recordQry) = 0;

signals:
    void stateChanged(bool offline, int waiting);
    void refusedChanged(int refused);
    void lastingTroubleChanged(const QString& text);
    // The list was loaded from the local copy, or not at all, because the server did not
    // answer; now it does, and the list is worth loading again.
    void listWanted();

protected:
    TerminalWay() = default;
};
