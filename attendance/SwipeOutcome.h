#pragma once

#include <QDateTime>
#include <QString>

// What one card swipe came to. Only Recorded and AlreadyRecorded carry a status text (not
// those of a forwarded batch, ServerSwipeBatch::forward, which nobody shows one by one);
// Nothing is a failure or no employee to swipe for. A failure carries the database's own
// message, for tools that must say why, and for the window a short reason in the
// operator's words and the status text of the failed swipe, so that the previous
// employee's success never stays standing.
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

    // The row written (Recorded) or found (AlreadyRecorded): number, name and D + T; for
    // a failure, the employee who swiped and when.
    QString num;
    QString name;
    QDateTime instant;

    // For a failure (listed last, after the fields brace-initialised outcomes fill): the
    // status text "【num name】 yyyy-mm-dd hh:nn 刷卡失败！" (empty when there was no
    // employee to name), and why, in a few Chinese words.
    QString failedText = {};
    QString reason = {};
    // For a row a server committed: which server (ServerIdentity), read in the swipe's own
    // transaction; empty for a database file.
    QString server = {};
};
