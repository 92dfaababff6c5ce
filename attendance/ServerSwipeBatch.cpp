#include "attendance/ServerSwipeBatch.h"

#include "attendance/ServerIdentity.h"
#include "attendance/SwipeWindow.h"
#include "attendance/TroubleText.h"
#include "platform/DatabaseError.h"
#include "platform/DateTimeText.h"
#include "query/ServerFeatures.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// Takes the advisory lock of every employee of the batch, in the order of the keys.
const QByteArray kLockAll =
    "SELECT pg_catalog.pg_advisory_xact_lock($1::integer, k.h) FROM (SELECT DISTINCT "
    "pg_catalog.hashtext(n) AS h FROM pg_catalog.unnest($2::text[]) AS n ORDER BY 1) AS k";

// The duplicate test and the insert of many swipes in one statement, run after the locks
// were taken, so that its snapshot holds every row another terminal committed before. A
// swipe with no row of its number within its window is inserted; the rows back are the
// rows found for the others, by the swipe's position in the arrays. Dates and times go as
// ISO text, read the same under any DateStyle, and come back through to_char. The window's
// bounds are worked out by the server from the swipe's instant and the window's length.
const QByteArray& swipesStatement()
{
    static const QByteArray text =
        "WITH a AS (SELECT * FROM ROWS FROM (pg_catalog.unnest($1::text[]), pg_catalog.unnest($2::text[]), "
        "pg_catalog.unnest($3::date[]), pg_catalog.unnest($4::time[]), pg_catalog.unnest($5::date[])) "
        "WITH ORDINALITY AS a(num, name, d, t, opdate, i)), "
        "b AS (SELECT a.*, (a.d + a.t) - pg_catalog.make_interval(secs => $6::integer) AS lo, "
        "(a.d + a.t) + pg_catalog.make_interval(secs => $6::integer) AS hi FROM a), "
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

// An array parameter in the server's text form, built value by value: every value quoted,
// so that no text (empty, NULL, blanks, braces) reads as anything but itself.
class ArrayLiteral
{
public:
    explicit ArrayLiteral(size_t values) { m_text.reserve(qsizetype(values) * 16 + 2); }
    void add(const QByteArray& value)
    {
        open();
        for (const char c : value) {
            if (c == '\\' || c == '"')
                m_text += '\\';
            m_text += c;
        }
        m_text += '"';
    }
    void add(const QString& value) { add(value.toUtf8()); }
    // Dates and times as the single swipe sends them (ISO text).
    void add(const QDate& date) { add(DateTimeText::date(date).toLatin1()); }
    void add(const QTime& time) { add(DateTimeText::time(time, u':').toLatin1()); }
    QByteArray text() const { return m_text.isEmpty() ? QByteArray("{}") : m_text + '}'; }

private:
    void open() { m_text += m_text.isEmpty() ? "{\"" : ",\""; }
    QByteArray m_text;
};

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

int ServerSwipeBatch::employeesPerBatch(ServerFeatures& server)
{
    const std::vector<ServerRows> rows =
        server.pipeline({{"SELECT pg_catalog.current_setting('max_locks_per_transaction')", {}}});
    bool ok = false;
    const int locks = rows.empty() || rows.front().rows() != 1 ? 0 : rows.front().value(0, 0).toInt(&ok);
    // The least the server can be set to, should it not say; a few left for the locks the
    // statements take on tables and the transaction's own.
    return std::max(1, (ok ? locks : 10) - 8);
}

std::vector<std::vector<size_t>> ServerSwipeBatch::batches(const std::vector<StoredSwipe>& swipes,
                                                           int employees)
{
    // Each employee's swipes, employees in the order of their first swipe.
    std::vector<std::vector<size_t>> byEmployee;
    QHash<QString, size_t> slot;
    for (size_t i = 0; i < swipes.size(); ++i) {
        const auto found = slot.constFind(swipes[i].num);
        if (found != slot.constEnd()) {
            byEmployee[*found].push_back(i);
        } else {
            slot.insert(swipes[i].num, byEmployee.size());
            byEmployee.push_back({i});
        }
    }
    std::vector<std::vector<size_t>> result;
    int employeesInLast = 0;
    for (const std::vector<size_t>& own : byEmployee) {
        bool first = true;
        for (size_t i : own) {
            if (result.empty() || result.back().size() >= size_t(kMaxSwipes) ||
                (first && employeesInLast >= employees)) {
                result.emplace_back();
                employeesInLast = 0;
            }
            // An employee counts once in each batch that holds a swipe of theirs.
            if (first || employeesInLast == 0)
                ++employeesInLast;
            result.back().push_back(i);
            first = false;
        }
    }
    // In queue order within each batch, as the runs are cut.
    for (std::vector<size_t>& batch : result)
        std::sort(batch.begin(), batch.end());
    return result;
}

std::vector<SwipeOutcome> ServerSwipeBatch::forward(ServerFeatures& server,
                                                    const std::vector<StoredSwipe>& swipes)
{
    if (swipes.empty())
        return {};
    ArrayLiteral nums(swipes.size());
    {
        QSet<QString> seen;
        for (const StoredSwipe& swipe : swipes) {
            if (!seen.contains(swipe.num)) {
                seen.insert(swipe.num);
                nums.add(swipe.num);
            }
        }
    }
    std::vector<ServerFeatures::Statement> statements;
    statements.push_back({kLockAll, {QByteArray::number(ServerFeatures::kSwipeLockClass), nums.text()}});
    const std::vector<std::vector<size_t>> runs = independentRuns(swipes);
    for (const std::vector<size_t>& run : runs) {
        ArrayLiteral num(run.size()), name(run.size()), date(run.size()), time(run.size()),
            opdate(run.size());
        for (size_t i : run) {
            const StoredSwipe& swipe = swipes[i];
            num.add(swipe.num);
            name.add(swipe.name);
            date.add(swipe.date);
            time.add(swipe.time);
            opdate.add(swipe.opdate);
        }
        statements.push_back({swipesStatement(),
                              {num.text(), name.text(), date.text(), time.text(), opdate.text(),
                               QByteArray::number(SwipeWindow::kSeconds)}});
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
