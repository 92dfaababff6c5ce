// kqdb swipe TARGET <employee number> [--now "yyyy-mm-dd hh:nn:ss"]
//
// --now stands in for the system clock, so that tests can make several processes swipe at
// one and the same moment.

#include "KqdbCommand.h"
#include "StoreDamageText.h"

#include "attendance/CardSwipe.h"
#include "attendance/LocalStore.h"
#include "attendance/ServerSchemaCheck.h"
#include "attendance/StoredSwipe.h"
#include "attendance/SwipeWindow.h"
#include "platform/Exception.h"
#include "platform/FixedClock.h"
#include "platform/SystemClock.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/Statements.h"

#include <cstdio>
#include <memory>
#include <optional>

namespace {

const char kSwipeUsage[] =
    "swipe TARGET NUM [--now \"yyyy-mm-dd hh:nn:ss\"]\n"
    "      records a card swipe as the terminal does and prints the status text;\n"
    "      --now swipes at that local time instead of the clock's (0001-01-01 00:03:00\n"
    "      to 9999-12-31 23:56:59);\n"
    "      exit 0 recorded, 1 database failure (nothing recorded; the database's message\n"
    "      on stderr), 2 usage, 3 no such employee, 4 already recorded";

// A script tells a refused repeat from a broken database by the exit code.
constexpr int kRecorded = KqdbExit::kOk;
constexpr int kAlreadyRecorded = KqdbExit::kAlreadyRecorded;
constexpr int kNoEmployee = KqdbExit::kNoSuchEmployee;
constexpr int kDatabaseFailure = KqdbExit::kFailed;

// The window bounds are written with four-digit years, so both must stay within years
// 1 to 9999 (there is no year 0).
std::optional<QDateTime> parseNow(const QString& text)
{
    const QDateTime at = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!at.isValid())
        return std::nullopt;
    const QDateTime value(at.date(), at.time(), Qt::UTC);
    const QDateTime first(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime last(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC);
    if (SwipeWindow::from(value) < first || SwipeWindow::to(value) > last)
        return std::nullopt;
    return value;
}

// A swipe a server confirmed is kept in this user's local store for that server, as the
// terminal keeps its own, so that `kqdb forward` (or a terminal of the same user) can send
// it again should a failover lose it.
void retain(const QString& connectionString, const SwipeOutcome& outcome, const Clock& clock)
{
    // Keeping turned off (retention 0): the store is not even opened.
    if (LocalStore::retentionMinutes() == 0)
        return;
    const QString path = LocalStore::pathFor(connectionString);
    try {
        LocalStore store(path);
        // Opening checks the store against the record beside it and mends what it finds
        // damaged: said here, as the terminal and kqdb forward say it.
        if (const std::optional<LocalStore::Damage> damage = store.takeDamage())
            kqdbPrintError(storeDamageText(*damage));
        store.setTarget(LocalStore::displayText(connectionString));
        store.retainRecorded(outcome, clock.now());
    } catch (const Exception& e) {
        kqdbPrintError(QStringLiteral("the swipe is recorded, but it could not be kept in the local store %1 "
                                      "(%2): a failover right now could lose it unseen")
                           .arg(path, e.message()));
    }
}

int runSwipe(const QStringList& args)
{
    QStringList positional;
    std::optional<QString> now;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == u"--now" && i + 1 < args.size())
            now = args.at(++i);
        else if (args.at(i).startsWith(u"--"))
            return kqdbOptionError(args.at(i), kSwipeUsage);
        else
            positional.append(args.at(i));
    }
    if (!kqdbArgumentsFit(positional.size(), {QStringLiteral("TARGET"), QStringLiteral("NUM")}, kSwipeUsage))
        return KqdbExit::kUsage;

    std::unique_ptr<Clock> fixed;
    if (now) {
        const std::optional<QDateTime> at = parseNow(*now);
        if (!at)
            return kqdbUsageError(
                QStringLiteral("--now takes a local time \"yyyy-mm-dd hh:nn:ss\" from 0001-01-01 "
                               "00:03:00 to 9999-12-31 23:56:59, not \"%1\"")
                    .arg(*now),
                kSwipeUsage);
        fixed = std::make_unique<FixedClock>(*at);
    }
    const Clock& clock = fixed ? *fixed : static_cast<const Clock&>(SystemClock::instance());

    const QString connectionString = kqdbConnectionString(positional.at(0), kSwipeUsage);
    if (connectionString.isEmpty())
        return KqdbExit::kUsage;
    AdoConnection connection;
    connection.setConnectionString(connectionString);
    connection.setOpenCheck(ServerSchemaCheck::run);
    AdoQuery employees(QStringLiteral("YgQry"));
    AdoQuery records(QStringLiteral("RecordQry"));
    employees.setConnection(&connection);
    records.setConnection(&connection);
    bool found = false;
    try {
        // The one employee, by the index on num: the cost of a swipe does not grow with the
        // list.
        employees.sqlAdd(QStringLiteral("SELECT * FROM employ WHERE num = :num"));
        employees.setParameter(QStringLiteral("num"), positional.at(1));
        employees.open();
        found = employees.recordCount() > 0;
    } catch (const std::exception& e) {
        kqdbPrintError(QString::fromUtf8(e.what()));
        return kDatabaseFailure;
    }
    if (!found) {
        kqdbPrintError(QStringLiteral("no employee %1").arg(positional.at(1)));
        return kNoEmployee;
    }

    const SwipeOutcome outcome = CardSwipe::run(&employees, records, clock);
    if (!outcome.statusText.isEmpty()) {
        kqdbPrintLine(outcome.statusText);
        std::fflush(stdout);
    }
    if (outcome.kind == SwipeOutcome::Kind::Recorded && !outcome.server.isEmpty())
        retain(connectionString, outcome, clock);
    switch (outcome.kind) {
    case SwipeOutcome::Kind::Recorded:
        return kRecorded;
    case SwipeOutcome::Kind::AlreadyRecorded:
        return kAlreadyRecorded;
    case SwipeOutcome::Kind::Nothing:
        break;
    }
    kqdbPrintError(QStringLiteral("nothing recorded: %1")
                       .arg(outcome.failed() ? outcome.errorMessage : QStringLiteral("unknown error")));
    return kDatabaseFailure;
}

const KqdbCommand::Registration kRegistration(20, "swipe", kSwipeUsage, runSwipe);

} // namespace
