#pragma once

#include "attendance/StoredSwipe.h"
#include "query/Statements.h"

#include <QDateTime>
#include <QString>

namespace TestSupport {

// A swipe as a terminal queues it: that employee at that instant, with the fixed processing
// date every swipe carries.
inline StoredSwipe queuedSwipe(const QString& num, const QString& name, const QDateTime& at)
{
    StoredSwipe swipe;
    swipe.num = num;
    swipe.name = name;
    swipe.date = at.date();
    swipe.time = at.time();
    swipe.opdate = Statements::kFixedOpDate;
    return swipe;
}

} // namespace TestSupport
