#pragma once

#include "attendance/CardRegister.h"
#include "attendance/SwipeOutcome.h"

#include <QObject>
#include <QString>

#include <memory>

class AdoConnection;
class AdoQuery;
class Clock;
class DatabaseTarget;
class TerminalWay;

// The one way from the window to attendance, in attendance's words: open a database, load
// the employee list, swipe an employee by number, read a card, delete the current employee,
// close; whatever the database (a file or a server) and whether the server answers or not.
// The terminal owns the connection and the queries; the window only shows the list query.
// What the window shows about the rest (the terminal's trouble, the server being out of
// reach, swipes waiting or refused) arrives through the signals, so the window never asks
// which kind of database it has.
class AttendanceTerminal : public QObject
{
    Q_OBJECT
public:
    // Touches no database: a missing or broken one cannot stop the window's start.
    explicit AttendanceTerminal(const Clock& clock, QObject* parent = nullptr);
    ~AttendanceTerminal() override;

    // The connection ADOConnectionYg, the employee list YgQry (its current row is the current
    // employee) and the record query RecordQry, by the names their messages carry.
    AdoConnection* connection() const { return m_connection; }
    AdoQuery* employees() const { return m_employees; }
    AdoQuery* records() const { return m_records; }

    // Prepares the connection for the target without opening it, and the way to it: a
    // server's, with the local copy, the outbox and its forwarder, when the target names a
    // server; else a database file's. A target that cannot be used leaves the connection
    // without a connection string: its way is a file's, whose swipes fail visibly.
    void open(const DatabaseTarget& target);
    // Loads "SELECT * FROM employ" into the list and the cards beside it; a failure is
    // logged, leaves the list closed, and is said through lastingTroubleChanged. Emits the
    // whole state once before it returns.
    void loadEmployees();
    // One card swipe for the employee of that number, the current one of the list (made
    // current first when another row is); nothing when the list has no such employee.
    // Never throws.
    SwipeOutcome swipe(const QString& num);
    // A badge or key fob read by a card reader: its holder is made the current employee
    // and swiped as by swipe(). An unknown card, a card whose holder is no longer in the
    // list, or a card read while a box waits for the operator (boxOpen) records nobody: the
    // outcome fails, naming the card, and the error log gets one line. Never throws.
    SwipeOutcome swipeCard(const QString& card, bool boxOpen);
    // Deletes the current employee; a failure passes through to the caller.
    void deleteCurrent();
    // Closes the list, the record query and the connection, in that order.
    void close();

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

private:
    // The list loaded again (from the server, once it answers after a start from the
    // copy), with the same employee current.
    void reloadEmployees();
    // The current employee's number; empty when there is none.
    QString currentNumber() const;
    // Makes the first employee of exactly that number current; false when there is none.
    bool select(const QString& num);
    SwipeOutcome refuseCard(const QString& card, const QString& reason, const QString& logMessage);

    const Clock& m_clock;
    AdoConnection* m_connection;
    AdoQuery* m_employees;
    AdoQuery* m_records;
    CardRegister m_cards;
    std::unique_ptr<TerminalWay> m_way;
};
