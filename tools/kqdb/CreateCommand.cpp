// kqdb create <path> [--demo | --employees N]

#include "KqdbCommand.h"

#include "interchange/DevSchema.h"
#include "platform/ProgressBar.h"
#include "query/DatabaseTarget.h"

#include <cstdio>

namespace {

const char kCreateUsage[] = "create TARGET [--demo | --employees N]\n"
                            "      a new database file, or the tables and the terminals' role in a\n"
                            "      server database (postgresql://... or libpq key=value text)";

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
        } else if ((arg == u"--demo" || arg == u"--employees") && employeesGiven) {
            return kqdbUsageError(QStringLiteral("--demo and --employees go one at a time"), kCreateUsage);
        } else if (arg == u"--employees" && i + 1 < args.size()) {
            bool ok = false;
            const QString value = args.at(++i);
            const qlonglong count = value.toLongLong(&ok);
            if (!ok || count < 0 || count > kMaxEmployees)
                return kqdbUsageError(QStringLiteral("--employees takes a number from 0 to %1, not \"%2\"")
                                          .arg(QString::number(kMaxEmployees), value),
                                      kCreateUsage);
            employees = DevSchema::generatedEmployees(int(count));
            employeesGiven = true;
        } else if (!arg.startsWith(u"--") && path.isEmpty()) {
            path = arg;
        } else if (arg.startsWith(u"--")) {
            return kqdbOptionError(arg, kCreateUsage);
        } else {
            return kqdbUsageError(QStringLiteral("too many arguments"), kCreateUsage);
        }
    }
    if (path.isEmpty())
        return kqdbUsageError(QStringLiteral("missing TARGET"), kCreateUsage);

    const DatabaseTarget target = DatabaseTarget::parse(path);
    if (target.isServer() && !target.isValid())
        return kqdbUsageError(target.problem(), kCreateUsage);
    QString error;
    ProgressBar bar(stderr, QStringLiteral("create"), employees.size());
    const bool created =
        target.isServer()
            ? DevSchema::createServerDatabase(target.conninfo(), employees, &error)
            : DevSchema::createDatabase(path, employees, &error, [&](qint64 done) { bar.update(done); });
    if (!created) {
        kqdbPrintError(error);
        return KqdbExit::kFailed;
    }
    bar.finish();
    std::printf("created %s with %lld employees\n",
                (target.isServer() ? target.displayText() : path).toLocal8Bit().constData(),
                static_cast<long long>(employees.size()));
    return KqdbExit::kOk;
}

const KqdbCommand::Registration kRegistration(10, "create", kCreateUsage, runCreate);

} // namespace
