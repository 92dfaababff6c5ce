#include "attendance/ServerSwipe.h"

#include "attendance/ServerIdentity.h"
#include "attendance/SwipeWindow.h"
#include "attendance/TroubleText.h"
#include "platform/DatabaseError.h"
#include "platform/DateTimeText.h"
#include "query/ServerFeatures.h"

namespace {

// The employee's lock, the same key a batch and every other terminal take for the number.
const QByteArray& lockStatement()
{
    static const QByteArray text = "SELECT pg_catalog.pg_advisory_xact_lock(" +
                                   QByteArray::number(ServerFeatures::kSwipeLockClass) +
                                   ", pg_catalog.hashtext($1::text))";
    return text;
}

// $1 num, $2 name, $3 D, $4 T, $5 and $6 the window's bounds, $7 opdate, dates and times as
// ISO text, read the same under any DateStyle. Always one row: the committing server, then
// the row found within the window (NULL when the swipe was inserted), its D and T
// through to_char.
QByteArray composeSwipeStatement(const QByteArray& identity)
{
    return "WITH found AS (SELECT s.num, s.name, s.d, s.t FROM sgdjb s WHERE s.num = $1::text AND " +
           SwipeWindow::sqlHolds(u"(s.d + s.t)", u"$5::timestamp", u"$6::timestamp").toLatin1() +
           " LIMIT 1), "
           "inserted AS (INSERT INTO sgdjb (num, name, d, t, opdate) SELECT $1::text, $2::text, $3::date, "
           "$4::time, $7::date WHERE NOT EXISTS (SELECT 1 FROM found)) "
           "SELECT " +
           identity +
           ", f.num, f.name, pg_catalog.to_char(f.d, 'YYYY-MM-DD'), pg_catalog.to_char(f.t, 'HH24:MI:SS') "
           "FROM (SELECT) AS one LEFT JOIN found f ON true";
}

const QByteArray& swipeStatement()
{
    static const QByteArray withTimeline = composeSwipeStatement(ServerIdentity::expression(true));
    static const QByteArray withoutTimeline = composeSwipeStatement(ServerIdentity::expression(false));
    return ServerIdentity::timelineReadable() ? withTimeline : withoutTimeline;
}

} // namespace

SwipeOutcome ServerSwipe::record(ServerFeatures& server, const StoredSwipe& swipe)
{
    const QDateTime instant = swipe.instant();
    const QByteArray number = swipe.num.toUtf8();
    const std::vector<ServerRows> results = server.transaction(
        {{lockStatement(), {number}},
         {swipeStatement(),
          {number, swipe.name.toUtf8(), DateTimeText::date(swipe.date).toLatin1(),
           DateTimeText::time(swipe.time, u':').toLatin1(),
           DateTimeText::dateTime(SwipeWindow::from(instant), u':').toLatin1(),
           DateTimeText::dateTime(SwipeWindow::to(instant), u':').toLatin1(), swipe.opdate.toUtf8()}}});
    if (results.size() != 2 || results[1].rows() != 1)
        throw DatabaseError(QStringLiteral("The database server did not answer the swipe."));
    const ServerRows& row = results[1];
    SwipeOutcome outcome;
    // The row found has the swipe's number, which is never empty: an empty one is none.
    if (row.value(0, 1).isEmpty()) {
        outcome = {SwipeOutcome::Kind::Recorded,
                   TroubleText::recordedSwipe(swipe.num, swipe.name, instant),
                   {},
                   swipe.num,
                   swipe.name,
                   instant};
    } else {
        const QString num = QString::fromUtf8(row.value(0, 1));
        const QString name = QString::fromUtf8(row.value(0, 2));
        const QDateTime found(QDate::fromString(QString::fromLatin1(row.value(0, 3)), Qt::ISODate),
                              QTime::fromString(QString::fromLatin1(row.value(0, 4)), Qt::ISODate), Qt::UTC);
        outcome = {SwipeOutcome::Kind::AlreadyRecorded,
                   TroubleText::alreadySwiped(num, name, found),
                   {},
                   num,
                   name,
                   found};
    }
    outcome.server = QString::fromUtf8(row.value(0, 0));
    return outcome;
}
