#include "attendance/ServerSwipeBatch.h"

#include "attendance/CardSwipe.h"
#include "attendance/ServerIdentity.h"
#include "attendance/SwipeWindow.h"
#include "attendance/TroubleText.h"
#include "platform/DatabaseError.h"
#include "platform/DateTimeText.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"

namespace {

// Takes the advisory lock of every employee of the batch, in the order of the keys.
const QByteArray kLockAll =
    "SELECT pg_catalog.pg_advisory_xact_lock($1::integer, k.h) FROM (SELECT DISTINCT "
    "pg_catalog.hashtext(n) AS h FROM pg_catalog.unnest($2::text[]) AS n ORDER BY 1) AS k";

// The duplicate test and the insert of one swipe in one statement, run after the locks
// were taken, so that its snapshot holds every row another terminal committed before.
// No row back: recorded; a row: the one already there.
const QByteArray& swipeStatement()
{
    static const QByteArray text =
        "WITH existing AS (SELECT num, name, d, t FROM sgdjb WHERE num = $1 AND " +
        SwipeWindow::sqlHolds(u"(d + t)", u"$5::timestamp", u"$6::timestamp").toLatin1() +
        " LIMIT 1), "
        "inserted AS (INSERT INTO sgdjb (num, name, d, t, opdate) SELECT $1, $2, $3::date, $4::time, "
        "$7::date "
        "WHERE NOT EXISTS (SELECT 1 FROM existing) RETURNING 1) "
        "SELECT num, name, CAST(d AS text), CAST(t AS text) FROM existing";
    return text;
}

QByteArray arrayLiteral(const std::vector<StoredSwipe>& swipes)
{
    QByteArray out = "{";
    for (size_t i = 0; i < swipes.size(); ++i) {
        if (i > 0)
            out += ',';
        QByteArray value = swipes[i].num.toUtf8();
        value.replace('\\', "\\\\").replace('"', "\\\"");
        out += '"' + value + '"';
    }
    return out + '}';
}

SwipeOutcome recorded(const StoredSwipe& swipe)
{
    return {SwipeOutcome::Kind::Recorded,
            TroubleText::recordedSwipe(swipe.num, swipe.name, swipe.instant()),
            {},
            swipe.num,
            swipe.name,
            swipe.instant()};
}

SwipeOutcome alreadyRecorded(const ServerRows& row)
{
    const QString num = QString::fromUtf8(row.value(0, 0));
    const QString name = QString::fromUtf8(row.value(0, 1));
    const QDateTime instant(QDate::fromString(QString::fromLatin1(row.value(0, 2)), Qt::ISODate),
                            QTime::fromString(QString::fromLatin1(row.value(0, 3)), Qt::ISODate), Qt::UTC);
    return {SwipeOutcome::Kind::AlreadyRecorded,
            TroubleText::alreadySwiped(num, name, instant),
            {},
            num,
            name,
            instant};
}

} // namespace

std::vector<SwipeOutcome> ServerSwipeBatch::forward(DbBackend& backend, ServerFeatures& server,
                                                    const std::vector<StoredSwipe>& swipes)
{
    if (swipes.empty())
        return {};
    std::vector<ServerFeatures::Statement> statements;
    statements.reserve(swipes.size() + 1);
    statements.push_back(
        {kLockAll, {QByteArray::number(ServerFeatures::kSwipeLockClass), arrayLiteral(swipes)}});
    for (const StoredSwipe& swipe : swipes) {
        const QDateTime instant = swipe.instant();
        statements.push_back(
            {swipeStatement(),
             {swipe.num.toUtf8(), swipe.name.toUtf8(), DateTimeText::date(swipe.date).toUtf8(),
              DateTimeText::time(swipe.time, u':').toUtf8(),
              DateTimeText::dateTime(SwipeWindow::from(instant), u':').toUtf8(),
              DateTimeText::dateTime(SwipeWindow::to(instant), u':').toUtf8(), swipe.opdate.toUtf8()}});
    }
    // Which server commits the batch, asked in its transaction.
    statements.push_back(ServerIdentity::statement());

    backend.beginWrite({});
    std::vector<ServerRows> results;
    try {
        results = server.pipeline(statements);
        if (results.size() != statements.size())
            throw DatabaseError(QStringLiteral("The database server answered %1 of %2 statements.")
                                    .arg(results.size())
                                    .arg(statements.size()));
        backend.commit();
    } catch (...) {
        try {
            backend.rollback();
        } catch (...) {
            // A lost connection has rolled back on the server already.
        }
        throw;
    }
    const QString committedBy = ServerIdentity::fromRows(results.back());
    std::vector<SwipeOutcome> outcomes;
    outcomes.reserve(swipes.size());
    for (size_t i = 0; i < swipes.size(); ++i) {
        const ServerRows& row = results[i + 1];
        outcomes.push_back(row.rows() > 0 ? alreadyRecorded(row) : recorded(swipes[i]));
        outcomes.back().server = committedBy;
    }
    return outcomes;
}
