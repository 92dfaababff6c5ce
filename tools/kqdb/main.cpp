// kqdb: the database tool of the terminal. Each command is a file of this folder that
// registers itself (see KqdbCommand).

#include "KqdbCommand.h"

#include "db/ArgumentPasswords.h"

#include <cstdio>

namespace {

void printUsage(std::FILE* to)
{
    std::fprintf(to, "usage:\n");
    for (const KqdbCommand& command : KqdbCommand::all())
        std::fprintf(to, "  kqdb %s\n", command.usage);
}

bool asksForHelp(const QString& arg)
{
    return arg == u"--help" || arg == u"-h" || arg == u"help";
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    // Read now: from here on the process list shows no password of a TARGET.
    ArgumentPasswords::hide(argc, argv);
    if (args.isEmpty()) {
        printUsage(stderr);
        return KqdbExit::kUsage;
    }
    // Asked for, the usage is the answer: standard output and success.
    if (args.size() == 1 && asksForHelp(args.first())) {
        printUsage(stdout);
        return KqdbExit::kOk;
    }
    const QString name = args.takeFirst();
    for (const KqdbCommand& command : KqdbCommand::all()) {
        if (name != QLatin1String(command.name))
            continue;
        if (args.size() == 1 && (args.first() == u"--help" || args.first() == u"-h")) {
            std::printf("usage: kqdb %s\n", command.usage);
            return KqdbExit::kOk;
        }
        return command.run(args);
    }
    kqdbPrintError(QStringLiteral("unknown command %1").arg(name));
    printUsage(stderr);
    return KqdbExit::kUsage;
}
