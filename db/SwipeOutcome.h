#pragma once

#include <QString>

// What one card swipe came to. Only Recorded and AlreadyRecorded carry a status text;
// Nothing (a failure, or no employee to swipe for) leaves the status line as it was.
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
};
