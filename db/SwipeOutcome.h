#pragma once

#include <QDateTime>
#include <QString>

// What one card swipe came to. Only Recorded and AlreadyRecorded carry a status text;
// Nothing (a failure, or no employee to swipe for) leaves the status line as it was.
// A failure also carries the database's own message, for tools that must say why; the
// window shows nothing for it.
struct SwipeOutcome
{
    enum class Kind
    {
        Nothing,
        Recorded,
        AlreadyRecorded
    };

    Kind kind = Kind::Nothing;
    QString statusText;
    QString errorMessage;

    bool failed() const { return !errorMessage.isEmpty(); }

    // The row written (Recorded) or found (AlreadyRecorded): number, name and D + T.
    QString num;
    QString name;
    QDateTime instant;
};
