#include "attendance/ServerSwipeBatch.h"

#include "attendance/ServerIdentity.h"
#include "attendance/SwipeWindow.h"
#include "platform/DatabaseError.h"
#include "platform/ServerRefusal.h"
#include "query/ServerArray.h"
#include "query/ServerFeatures.h"

#include <algorithm>
#include <unordered_map>

namespace {

// Takes the advisory lock of every employee of the batch, in the order of the keys.
const QByteArray kLockAll =
    "SELECT pg_catalog.pg_advisory_xact_lock($1::integer, k.h) FROM (SELECT DISTINCT "
    "pg_catalog.hashtext(n) AS h FROM pg_catalog.unnest($2::pg_catalog.text[]) AS n ORDER BY 1) AS k";

// The duplicate test and the insert of many swipes in one statement, run after the locks
// were taken, so that its snapshot holds every row another terminal committed before. A
// swipe with no row of its number within its window is inserted; the rows back are the
// rows found for the others, by the swipe's position in the arrays. The swipes' instants
// go as one array of timestamps in the server's binary form, read the same under any
// DateStyle and split into D and T by the server; found rows come back through to_char.
// The window's bounds are worked out by the server from the instant and the window's
// length. The arrays are unnested twice, for the test and for the insert, which the server
// does faster than keeping the swipes' rows between the two.
QByteArray swipesStatementText(const QByteArray& opdateType)
{
    const QByteArray holds =
        SwipeWindow::sqlHolds(u"(s.d + s.t)", u"a.at - pg_catalog.make_interval(secs => $5::integer)",
                              u"a.at + pg_catalog.make_interval(secs => $5::integer)")
            .toLatin1();
    return "WITH found AS (SELECT a.i, e.num, e.name, e.d, e.t FROM ROWS FROM "
           "(pg_catalog.unnest($1::pg_catalog.text[]), pg_catalog.unnest($3::timestamp[])) "
           "WITH ORDINALITY AS a(num, at, i) CROSS JOIN LATERAL (SELECT s.num, s.name, s.d, s.t "
           "FROM sgdjb s WHERE s.num = a.num AND " +
           holds +
           " LIMIT 1) e), "
           "inserted AS (INSERT INTO sgdjb (num, name, d, t, opdate) SELECT a.num, a.name, "
           "CAST(a.at AS pg_catalog.date), CAST(a.at AS time), CAST(a.opdate AS pg_catalog.date) "
           "FROM ROWS FROM (pg_catalog.unnest($1::pg_catalog.text[]), "
           "pg_catalog.unnest($2::pg_catalog.text[]), "
           "pg_catalog.unnest($3::timestamp[]), pg_catalog.unnest($4::pg_catalog." +
           opdateType +
           "[])) WITH ORDINALITY AS a(num, name, at, opdate, i) "
           "WHERE NOT EXISTS (SELECT 1 FROM found f WHERE f.i = a.i) ORDER BY a.i RETURNING 1) "
           "SELECT f.i, f.num, f.name, pg_catalog.to_char(f.d, 'YYYY-MM-DD'), "
           "pg_catalog.to_char(f.t, 'HH24:MI:SS') FROM found f";
}

// The processing dates go as dates where each is a plain ISO date (read alike by the server
// under any DateStyle), which the server then need not parse, and as text otherwise.
const QByteArray& swipesStatement(bool opdatesAsDates)
{
    static const QByteArray asDates = swipesStatementText("date");
    static const QByteArray asText = swipesStatementText("text");
    return opdatesAsDates ? asDates : asText;
}

SwipeOutcome alreadyRecorded(const ServerRows& rows, int row)
{
    const QString num = QString::fromUtf8(rows.value(row, 1));
    const QString name = QString::fromUtf8(rows.value(row, 2));
    const QDateTime instant(QDate::fromString(QString::fromLatin1(rows.value(row, 3)), Qt::ISODate),
                            QTime::fromString(QString::fromLatin1(rows.value(row, 4)), Qt::ISODate), Qt::UTC);
    return {SwipeOutcome::Kind::AlreadyRecorded, {}, {}, num, name, instant};
}

// Employee numbers are short: a plain FNV-1a over their characters is several times
// faster than QHash's seeded hash, and the numbers come from the terminal's own queue.
struct NumberHash
{
    size_t operator()(QStringView num) const noexcept
    {
        quint64 hash = 14695981039346656037ULL;
        for (const QChar c : num) {
            hash ^= c.unicode();
            hash *= 1099511628211ULL;
        }
        return size_t(hash);
    }
};

// One employee of a batch: the number as sent, and the swipes of theirs in the run being
// cut.
struct Employee
{
    QByteArray num;
    size_t run = 0;
    std::vector<qint64> inRun;
};

// The swipes split into runs, in order, within which no two swipes of one employee are
// close enough for one to be the other's duplicate: one statement per run then decides
// each swipe against the rows committed before it alone. Also each swipe's employee.
struct Runs
{
    std::vector<Employee> employees;
    std::vector<size_t> employeeOf;
    std::vector<std::vector<size_t>> runs;

    explicit Runs(const std::vector<StoredSwipe>& swipes) : employeeOf(swipes.size()), runs(1)
    {
        std::unordered_map<QStringView, size_t, NumberHash> slot;
        slot.reserve(swipes.size());
        for (size_t i = 0; i < swipes.size(); ++i) {
            const StoredSwipe& swipe = swipes[i];
            const auto [found, added] = slot.try_emplace(QStringView(swipe.num), employees.size());
            if (added)
                employees.push_back({swipe.num.toUtf8(), 0, {}});
            Employee& employee = employees[found->second];
            employeeOf[i] = found->second;
            const qint64 at = swipe.instantSeconds();
            if (employee.run != runs.size() - 1) {
                employee.run = runs.size() - 1;
                employee.inRun.clear();
            }
            const bool meets = std::any_of(employee.inRun.begin(), employee.inRun.end(), [at](qint64 other) {
                return SwipeWindow::holdsSeconds(other, at);
            });
            if (meets) {
                runs.emplace_back();
                employee.run = runs.size() - 1;
                employee.inRun.clear();
            }
            runs.back().push_back(i);
            employee.inRun.push_back(at);
        }
    }
};

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
    std::unordered_map<QStringView, size_t, NumberHash> slot;
    slot.reserve(swipes.size());
    for (size_t i = 0; i < swipes.size(); ++i) {
        const auto [found, added] = slot.try_emplace(QStringView(swipes[i].num), byEmployee.size());
        if (added)
            byEmployee.emplace_back();
        byEmployee[found->second].push_back(i);
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

namespace {

// A batch's statements (the locks, one statement per run, the server's identity), and the
// runs its answers are read by.
struct Prepared
{
    std::vector<std::vector<size_t>> runs;
    std::vector<ServerFeatures::Statement> statements;
    size_t count = 0;
};

Prepared prepare(const std::vector<StoredSwipe>& swipes)
{
    for (const StoredSwipe& swipe : swipes) {
        // What no server would take: refused as the server refuses a value, so that the
        // swipes are sent one by one and this one is set aside with the server's reason.
        if (!swipe.date.isValid() || !swipe.time.isValid())
            throw ServerRefusal(QStringLiteral("The swipe %1 has no valid date and time.").arg(swipe.num),
                                "22007");
    }
    Runs cut(swipes);
    ServerArray nums(ServerArray::Type::Text, qsizetype(cut.employees.size()));
    for (const Employee& employee : cut.employees)
        nums.add(QByteArrayView(employee.num));
    Prepared prepared;
    std::vector<ServerFeatures::Statement>& statements = prepared.statements;
    statements.push_back(
        {kLockAll, {QByteArray::number(ServerFeatures::kSwipeLockClass), nums.bytes()}, {1}});
    // The processing date of the swipe last looked at, as text and as a date (invalid
    // unless the text is a plain ISO date): nearly always one and the same day.
    QString lastOpdate;
    QByteArray lastOpdateText;
    QDate lastOpdateDate;
    const auto look = [&](const QString& text) {
        if (lastOpdateText.isNull() || text != lastOpdate) {
            lastOpdate = text;
            lastOpdateText = text.toUtf8();
            lastOpdateDate = QDate::fromString(text, Qt::ISODate);
            if (lastOpdateDate.year() < 1 || lastOpdateDate.toString(Qt::ISODate) != text)
                lastOpdateDate = QDate();
        }
    };
    for (const std::vector<size_t>& run : cut.runs) {
        const qsizetype n = qsizetype(run.size());
        bool asDates = true;
        for (size_t i : run) {
            look(swipes[i].opdate);
            asDates = asDates && lastOpdateDate.isValid();
        }
        ServerArray num(ServerArray::Type::Text, n), name(ServerArray::Type::Text, n),
            at(ServerArray::Type::Timestamp, n),
            opdate(asDates ? ServerArray::Type::Date : ServerArray::Type::Text, n);
        for (size_t i : run) {
            const StoredSwipe& swipe = swipes[i];
            num.add(QByteArrayView(cut.employees[cut.employeeOf[i]].num));
            name.add(QStringView(swipe.name));
            const QTime time = swipe.time;
            at.add(swipe.date, QTime(time.hour(), time.minute(), time.second()));
            look(swipe.opdate);
            if (asDates)
                opdate.add(lastOpdateDate);
            else
                opdate.add(QByteArrayView(lastOpdateText));
        }
        statements.push_back({swipesStatement(asDates),
                              {num.bytes(), name.bytes(), at.bytes(), opdate.bytes(),
                               QByteArray::number(SwipeWindow::kSeconds)},
                              {0, 1, 2, 3}});
    }
    // Which server commits the batch, asked in its transaction.
    statements.push_back(ServerIdentity::statement());
    prepared.runs = std::move(cut.runs);
    prepared.count = statements.size();
    return prepared;
}

// Each swipe's outcome from its batch's answers.
std::vector<SwipeOutcome> outcomesOf(const std::vector<StoredSwipe>& swipes, const Prepared& prepared,
                                     const std::vector<ServerRows>& results)
{
    if (results.size() != prepared.count)
        throw DatabaseError(QStringLiteral("The database server answered %1 of %2 statements.")
                                .arg(results.size())
                                .arg(prepared.count));
    const QString committedBy = ServerIdentity::fromRows(results.back());
    std::vector<SwipeOutcome> outcomes(swipes.size());
    for (size_t r = 0; r < prepared.runs.size(); ++r) {
        const std::vector<size_t>& run = prepared.runs[r];
        const ServerRows& rows = results[r + 1];
        for (int row = 0; row < rows.rows(); ++row) {
            const qsizetype at = rows.value(row, 0).toLongLong() - 1;
            if (at < 0 || size_t(at) >= run.size())
                throw DatabaseError(
                    QStringLiteral("The database server answered for a swipe it was not sent."));
            outcomes[run[size_t(at)]] = alreadyRecorded(rows, row);
        }
    }
    for (size_t i = 0; i < swipes.size(); ++i) {
        SwipeOutcome& outcome = outcomes[i];
        if (outcome.kind == SwipeOutcome::Kind::Nothing) {
            const StoredSwipe& swipe = swipes[i];
            outcome.kind = SwipeOutcome::Kind::Recorded;
            outcome.num = swipe.num;
            outcome.name = swipe.name;
            outcome.instant = swipe.instant();
        }
        outcome.server = committedBy;
    }
    return outcomes;
}

} // namespace

std::vector<SwipeOutcome> ServerSwipeBatch::forward(ServerFeatures& server,
                                                    const std::vector<StoredSwipe>& swipes)
{
    if (swipes.empty())
        return {};
    const Prepared prepared = prepare(swipes);
    return outcomesOf(swipes, prepared, server.transaction(prepared.statements));
}

ServerSwipeBatch::Forwarded ServerSwipeBatch::forward(ServerFeatures& server,
                                                      const std::vector<std::vector<StoredSwipe>>& batches)
{
    Forwarded forwarded;
    std::vector<Prepared> prepared;
    prepared.reserve(batches.size());
    std::vector<std::vector<ServerFeatures::Statement>> transactions;
    transactions.reserve(batches.size());
    // A batch that cannot be sent ends the exchange before it, as its refusal by the
    // server would.
    std::exception_ptr unsent;
    for (const std::vector<StoredSwipe>& batch : batches) {
        try {
            prepared.push_back(batch.empty() ? Prepared{} : prepare(batch));
        } catch (const ServerRefusal&) {
            unsent = std::current_exception();
            break;
        }
        transactions.push_back(std::move(prepared.back().statements));
    }
    // Empty batches have nothing to commit: they are answered without a transaction.
    std::vector<size_t> sent;
    std::vector<std::vector<ServerFeatures::Statement>> nonEmpty;
    for (size_t b = 0; b < transactions.size(); ++b) {
        if (!transactions[b].empty()) {
            sent.push_back(b);
            nonEmpty.push_back(std::move(transactions[b]));
        }
    }
    ServerFeatures::Committed committed = server.transactions(nonEmpty);
    for (size_t b = 0, k = 0; b < prepared.size(); ++b) {
        if (k < sent.size() && sent[k] == b) {
            if (k >= committed.results.size())
                break;
            try {
                forwarded.committed.push_back(outcomesOf(batches[b], prepared[b], committed.results[k]));
            } catch (const DatabaseError&) {
                // Committed, but answered in a way that cannot be read: left waiting, the
                // next round finds its swipes recorded.
                forwarded.failure = std::current_exception();
                return forwarded;
            }
            ++k;
        } else {
            forwarded.committed.emplace_back();
        }
    }
    forwarded.failure = committed.failure ? committed.failure : unsent;
    return forwarded;
}
