// kqdb swipe <path> <employee number> [--now "yyyy-mm-dd hh:nn:ss"]
//
// --now stands in for the system clock, so that tests can make several processes swipe at
// one and the same moment.

#include "KqdbCommand.h"

#include "db/AdoConnection.h"
#include "db/AdoQuery.h"
#include "db/CardSwipe.h"
#include "db/CommFunc.h"
#include "platform/ManualClock.h"
#include "platform/SystemClock.h"

#include <cstdio>
#include <memory>

namespace {

const char kSwipeUsage[] = "swipe <path> <employee number>\n"
                           "      records a card swipe as the terminal does and prints the status text;\n"
                           "      exit 0 recorded, 1 already recorded, 3 nothing recorded (no such\n"
                           "      employee, database failure), 2 usage";

int runSwipe(const QStringList& args)
{
    QStringList positional;
    QString now;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == u"--now" && i + 1 < args.size())
            now = args.at(++i);
        else if (args.at(i).startsWith(u"--"))
            return kqdbUsageError(kSwipeUsage);
        else
            positional.append(args.at(i));
    }
    if (positional.size() != 2)
        return kqdbUsageError(kSwipeUsage);

    std::unique_ptr<Clock> fixed;
    if (!now.isEmpty()) {
        const QDateTime at = QDateTime::fromString(now, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!at.isValid())
            return kqdbUsageError(kSwipeUsage);
        fixed = std::make_unique<ManualClock>(QDateTime(at.date(), at.time(), Qt::UTC));
    }
    const Clock& clock = fixed ? *fixed : static_cast<const Clock&>(SystemClock::instance());

    AdoConnection connection;
    connection.setConnectionString(kqdbConnectionString(positional.at(0)));
    AdoQuery employees(QStringLiteral("YgQry"));
    AdoQuery records(QStringLiteral("RecordQry"));
    employees.setConnection(&connection);
    records.setConnection(&connection);
    try {
        employees.sqlAdd(QStringLiteral("SELECT * FROM employ"));
        employees.open();
    } catch (const std::exception& e) {
        kqdbPrintError(QString::fromUtf8(e.what()));
        return 3;
    }
    bool found = false;
    for (int row = 0; row < employees.recordCount() && !found; ++row) {
        employees.setRecNo(row);
        found = employees.fieldAsString(QStringLiteral("num")) == positional.at(1);
    }
    if (!found) {
        kqdbPrintError(QStringLiteral("no employee %1").arg(positional.at(1)));
        return 3;
    }

    const SwipeOutcome outcome = CardSwipe::run(&employees, records, clock);
    if (!outcome.statusText.isEmpty())
        std::printf("%s\n", outcome.statusText.toLocal8Bit().constData());
    switch (outcome.kind) {
    case SwipeOutcome::Kind::Recorded:
        return 0;
    case SwipeOutcome::Kind::AlreadyRecorded:
        return 1;
    case SwipeOutcome::Kind::Nothing:
        break;
    }
    kqdbPrintError(QStringLiteral("nothing recorded"));
    return 3;
}

const KqdbCommand::Registration kRegistration(20, "swipe", kSwipeUsage, runSwipe);

} // namespace
