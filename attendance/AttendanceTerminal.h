#pragma once

#include "attendance/SwipeOutcome.h"

#include <QObject>
#include <QString>

#include <memory>

class AdoConnection;
class AdoQuery;
class Clock;

// The one way from the window to attendance: loading the employee list, a card swipe and
// deleting the current employee, whatever the database (a file or a server) and whether
// the server answers or not. What the window shows about it (the terminal's trouble, the
// server being out of reach, swipes waiting or refused) arrives through the signals, so
// the window never asks which kind of terminal it has.
class AttendanceTerminal : public QObject
{
    Q_OBJECT
public:
    // The terminal for the window's connection, already given its settings: a server's,
    // with the local copy, the outbox and its forwarder, when the connection names a
    // server; else a database file's, at filePath (the path the trouble texts name).
    static std::unique_ptr<AttendanceTerminal> forConnection(AdoConnection& connection,
                                                             const QString& filePath, const Clock& clock);

    ~AttendanceTerminal() override = default;

    // Loads "SELECT * FROM employ" into the query; a failure is logged, leaves the query
    // closed, and is said through lastingTroubleChanged, as is anything else that stands in
    // the way of recording swipes. Emits the whole state once before it returns.
    virtual void loadEmployees(AdoQuery* employees) = 0;
    // One card swipe of the current employee of `employees`; never throws.
    virtual SwipeOutcome swipe(AdoQuery* employees, AdoQuery& recordQry) = 0;
    // Deletes the current employee; a failure passes through to the caller.
    virtual void deleteCurrent(AdoQuery& employees);

    // What the status line shows after the swipe: its status text, or for a failure, and for
    // a swipe with nobody to swipe for, the failed-swipe text.
    static QString statusLine(const SwipeOutcome& outcome);
    // The trouble line's text for the last swipe: why it failed (also that there was nobody
    // to swipe for), empty when it did not.
    static QString swipeTrouble(const SwipeOutcome& outcome);
    // Whether the swipe found no current employee (an empty list, or none loaded because the
    // database could not be opened): the reason already on the trouble line, if any, is the
    // better one to leave standing.
    static bool hadNobodyToSwipe(const SwipeOutcome& outcome);
    // The trouble line's text for the server's state (out of reach, sending, refused);
    // empty when there is nothing to say.
    static QString stateText(bool offline, int waiting, int refused);

signals:
    // Whether the server is out of reach and how many swipes wait to be sent (a database
    // file: never offline, nothing waiting).
    void stateChanged(bool offline, int waiting);
    // Swipes the server refused for good and the terminal keeps aside.
    void refusedChanged(int refused);
    // Trouble that lasts as long as its cause (a list that could not be loaded, a database
    // or a local store that cannot be written); empty when there is none.
    void lastingTroubleChanged(const QString& text);

protected:
    AttendanceTerminal() = default;
};
