#include "attendance/ServerSwipeBatch.h"

#include "attendance/ServerIdentity.h"
#include "attendance/SwipeWindow.h"
#include "attendance/TroubleText.h"
#include "platform/DatabaseError.h"
#include "platform/DateTimeText.h"
#include "query/ServerFeatures.h"

#include <QHash>

namespace {

// Takes the advisory lock of every employee of the batch, in the order of the keys.
const QByteArray kLockAll =
    "SELECT pg_catalog.pg_advisory_xact_lock($1::integer, k.h) FROM (SELECT DISTINCT "
    "pg_catalog.hashtext(n) AS h FROM pg_catalog.unnest($2::text[]) AS n ORDER BY 1) AS k";

// The duplicate test and the insert of many swipes in one statement, run after the locks
// were taken, so that its snapshot holds every row another terminal committed before. A
// swipe with no row of its number within its window is inserted; the rows back are the
// rows found for the others, by the swipe's position in the arrays. Dates and times go as
// ISO text, read the same under any DateStyle, and come back through to_char.
const QByteArray& swipesStatement()
{
    static const QByteArray text =
        "WITH b AS (SELECT * FROM ROWS FROM (pg_catalog.unnest($1::text[]), pg_catalog.unnest($2::text[]), "
        "pg_catalog.unnest($3::date[]), pg_catalog.unnest($4::time[]), pg_catalog.unnest($5::timestamp[]), "
        "pg_catalog.unnest($6::timestamp[]), pg_catalog.unnest($7::date[])) WITH ORDINALITY "
        "AS b(num, name, d, t, lo, hi, opdate, i)), "
        "found AS (SELECT b.i, e.num, e.name, e.d, e.t FROM b CROSS JOIN LATERAL (SELECT s.num, s.name, s.d, "
        "s.t "
        "FROM sgdjb s WHERE s.num = b.num AND " +
        SwipeWindow::sqlHolds(u"(s.d + s.t)", u"b.lo", u"b.hi").toLatin1() +
        " LIMIT 1) e), "
        "inserted AS (INSERT INTO sgdjb (num, name, d, t, opdate) SELECT b.num, b.name, b.d, b.t, b.opdate "
        "FROM b WHERE NOT EXISTS (SELECT 1 FROM found f WHERE f.i = b.i) ORDER BY b.i RETURNING 1) "
        "SELECT f.i, f.num, f.name, pg_catalog.to_char(f.d, 'YYYY-MM-DD'), pg_catalog.to_char(f.t, "
        "'HH24:MI:SS') "
        "FROM found f";
    return text;
}

QByteArray arrayLiteral(const QList<QByteArray>& values)
{
    QByteArray out = "{";
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        QByteArray value = values.at(i);
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

SwipeOutcome alreadyRecorded(const ServerRows& rows, int row)
{
    const QString num = QString::fromUtf8(rows.value(row, 1));
    const QString name = QString::fromUtf8(rows.value(row, 2));
    const QDateTime instant(QDate::fromString(QString::fromLatin1(rows.value(row, 3)), Qt::ISODate),
                            QTime::fromString(QString::fromLatin1(rows.value(row, 4)), Qt::ISODate), Qt::UTC);
    return {SwipeOutcome::Kind::AlreadyRecorded,
            TroubleText::alreadySwiped(num, name, instant),
            {},
            num,
            name,
            instant};
}

// The swipes split into runs, in order, within which no two swipes of one employee are
// close enough for one to be the other's duplicate: one statement per run then decides
// each swipe against the rows committed before it alone.
std::vector<std::vector<size_t>> independentRuns(const std::vector<StoredSwipe>& swipes)
{
    std::vector<std::vector<size_t>> runs(1);
    QMultiHash<QString, QDateTime> inRun;
    for (size_t i = 0; i < swipes.size(); ++i) {
        const QDateTime at = swipes[i].instant();
        bool meets = false;
        for (auto it = inRun.constFind(swipes[i].num); it != inRun.constEnd() && it.key() == swipes[i].num;
             ++it)
            meets = meets || SwipeWindow::holds(it.value(), SwipeWindow::from(at), SwipeWindow::to(at));
        if (meets) {
            runs.emplace_back();
            inRun.clear();
        }
        runs.back().push_back(i);
        inRun.insert(swipes[i].num, at);
    }
    return runs;
}

} // namespace

std::vector<SwipeOutcome> ServerSwipeBatch::forward(ServerFeatures& server,
                                                    const std::vector<StoredSwipe>& swipes)
{
    if (swipes.empty())
        return {};
    QList<QByteArray> nums;
    for (const StoredSwipe& swipe : swipes)
        nums.append(swipe.num.toUtf8());
    std::vector<ServerFeatures::Statement> statements;
    statements.push_back(
        {kLockAll, {QByteArray::number(ServerFeatures::kSwipeLockClass), arrayLiteral(nums)}});
    const std::vector<std::vector<size_t>> runs = independentRuns(swipes);
    for (const std::vector<size_t>& run : runs) {
        QList<QByteArray> num, name, date, time, low, high, opdate;
        for (size_t i : run) {
            const StoredSwipe& swipe = swipes[i];
            const QDateTime instant = swipe.instant();
            num.append(swipe.num.toUtf8());
            name.append(swipe.name.toUtf8());
            date.append(DateTimeText::date(swipe.date).toUtf8());
            time.append(DateTimeText::time(swipe.time, u':').toUtf8());
            low.append(DateTimeText::dateTime(SwipeWindow::from(instant), u':').toUtf8());
            high.append(DateTimeText::dateTime(SwipeWindow::to(instant), u':').toUtf8());
            opdate.append(swipe.opdate.toUtf8());
        }
        statements.push_back({swipesStatement(),
                              {arrayLiteral(num), arrayLiteral(name), arrayLiteral(date), arrayLiteral(time),
                               arrayLiteral(low), arrayLiteral(high), arrayLiteral(opdate)}});
    }

    // Which server commits the batch, asked in its transaction.
    statements.push_back(ServerIdentity::statement());

    const std::vector<ServerRows> results = server.transaction(statements);
    if (results.size() != statements.size())
        throw DatabaseError(QStringLiteral("The database server answered %1 of %2 statements.")
                                .arg(results.size())
                                .arg(statements.size()));
    std::vector<SwipeOutcome> outcomes(swipes.size());
    for (size_t r = 0; r < runs.size(); ++r) {
        const std::vector<size_t>& run = runs[r];
        std::vector<bool> found(run.size(), false);
        const ServerRows& rows = results[r + 1];
        for (int row = 0; row < rows.rows(); ++row) {
            const qsizetype at = rows.value(row, 0).toLongLong() - 1;
            if (at < 0 || size_t(at) >= run.size())
                throw DatabaseError(
                    QStringLiteral("The database server answered for a swipe it was not sent."));
            outcomes[run[size_t(at)]] = alreadyRecorded(rows, row);
            found[size_t(at)] = true;
        }
        for (size_t k = 0; k < run.size(); ++k)
            if (!found[k])
                outcomes[run[k]] = recorded(swipes[run[k]]);
    }
    const QString committedBy = ServerIdentity::fromRows(results.back());
    for (SwipeOutcome& outcome : outcomes)
        outcome.server = committedBy;
    return outcomes;
}
