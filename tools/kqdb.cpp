// kqdb: the development database tool.
//
//   kqdb create <path> [--demo | --employees N]
//   kqdb swipe <path> <employee number>
//   kqdb mdb-dir
//
// swipe also takes --now "yyyy-mm-dd hh:nn:ss" in place of the system clock, so that tests
// can make several processes swipe at one and the same moment.
//
// Further commands register themselves in kCommands below.

#include "db/AdoConnection.h"
#include "db/AdoQuery.h"
#include "db/CardSwipe.h"
#include "db/CommFunc.h"
#include "db/DevSchema.h"
#include "platform/ManualClock.h"
#include "platform/SystemClock.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

struct Command
{
    const char* name;
    const char* usage;
    std::function<int(const QStringList&)> run;
};

void printError(const QString& text)
{
    std::fprintf(stderr, "kqdb: %s\n", text.toLocal8Bit().constData());
}

int usageError(const char* usage)
{
    std::fprintf(stderr, "usage: kqdb %s\n", usage);
    return 2;
}

const char kCreateUsage[] = "create <path> [--demo | --employees N]";

// Every employee is built in memory before the file is written; past this the tool would
// run out of memory rather than fail with a message.
constexpr int kMaxEmployees = 10'000'000;

int runCreate(const QStringList& args)
{
    QString path;
    QList<DevSchema::Employee> employees;
    bool employeesGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == u"--demo" && !employeesGiven) {
            employees = DevSchema::demoEmployees();
            employeesGiven = true;
        } else if (arg == u"--employees" && !employeesGiven && i + 1 < args.size()) {
            bool ok = false;
            const qlonglong count = args.at(++i).toLongLong(&ok);
            if (!ok)
                return usageError(kCreateUsage);
            if (count < 0 || count > kMaxEmployees) {
                printError(QStringLiteral("--employees takes a number from 0 to %1").arg(kMaxEmployees));
                return usageError(kCreateUsage);
            }
            employees = DevSchema::generatedEmployees(int(count));
            employeesGiven = true;
        } else if (!arg.startsWith(u"--") && path.isEmpty()) {
            path = arg;
        } else {
            return usageError(kCreateUsage);
        }
    }
    if (path.isEmpty())
        return usageError(kCreateUsage);

    QString error;
    if (!DevSchema::createDatabase(path, employees, &error)) {
        printError(error);
        return 1;
    }
    std::printf("created %s with %lld employees\n", path.toLocal8Bit().constData(),
                static_cast<long long>(employees.size()));
    return 0;
}

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
            return usageError(kSwipeUsage);
        else
            positional.append(args.at(i));
    }
    if (positional.size() != 2)
        return usageError(kSwipeUsage);

    std::unique_ptr<Clock> fixed;
    if (!now.isEmpty()) {
        const QDateTime at = QDateTime::fromString(now, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!at.isValid())
            return usageError(kSwipeUsage);
        fixed = std::make_unique<ManualClock>(QDateTime(at.date(), at.time(), Qt::UTC));
    }
    const Clock& clock = fixed ? *fixed : static_cast<const Clock&>(SystemClock::instance());

    AdoConnection connection;
    connection.setConnectionString(CommFunc::MakeJetConnStr(positional.at(0)));
    AdoQuery employees(QStringLiteral("YgQry"));
    AdoQuery records(QStringLiteral("RecordQry"));
    employees.setConnection(&connection);
    records.setConnection(&connection);
    try {
        employees.sqlAdd(QStringLiteral("SELECT * FROM employ"));
        employees.open();
    } catch (const std::exception& e) {
        printError(QString::fromUtf8(e.what()));
        return 3;
    }
    bool found = false;
    for (int row = 0; row < employees.recordCount() && !found; ++row) {
        employees.setRecNo(row);
        found = employees.fieldAsString(QStringLiteral("num")) == positional.at(1);
    }
    if (!found) {
        printError(QStringLiteral("no employee %1").arg(positional.at(1)));
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
    printError(QStringLiteral("nothing recorded"));
    return 3;
}

const char kMdbDirUsage[] = "mdb-dir";

// The database folder a terminal installed beside this tool would use: the configured
// one, or the mdb folder next to the executable when none is configured.
int runMdbDir(const QStringList& args)
{
    if (!args.isEmpty())
        return usageError(kMdbDirUsage);
    std::printf("%s\n", CommFunc::GetMdbDir().toLocal8Bit().constData());
    return 0;
}

const Command kCommands[] = {
    {"create", kCreateUsage, runCreate},
    {"swipe", kSwipeUsage, runSwipe},
    {"mdb-dir", kMdbDirUsage, runMdbDir},
};

int printUsage()
{
    std::fprintf(stderr, "usage:\n");
    for (const Command& command : kCommands)
        std::fprintf(stderr, "  kqdb %s\n", command.usage);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    if (args.isEmpty())
        return printUsage();
    const QString name = args.takeFirst();
    for (const Command& command : kCommands) {
        if (name == QLatin1String(command.name))
            return command.run(args);
    }
    printError(QStringLiteral("unknown command %1").arg(name));
    return printUsage();
}
