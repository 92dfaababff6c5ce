// kqdb: the development database tool.
//
//   kqdb create <path> [--demo | --employees N]
//
// Further commands register themselves in kCommands below.

#include "db/DevSchema.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>

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
            const int count = args.at(++i).toInt(&ok);
            if (!ok || count < 0)
                return usageError(kCreateUsage);
            employees = DevSchema::generatedEmployees(count);
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

const Command kCommands[] = {
    {"create", kCreateUsage, runCreate},
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
