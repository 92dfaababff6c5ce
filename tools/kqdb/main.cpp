// kqdb: the database tool of the terminal. Each command is a file of this folder that
// registers itself (see KqdbCommand).

#include "KqdbCommand.h"

#include <cstdio>

namespace {

int printUsage()
{
    std::fprintf(stderr, "usage:\n");
    for (const KqdbCommand& command : KqdbCommand::all())
        std::fprintf(stderr, "  kqdb %s\n", command.usage);
    return KqdbExit::kUsage;
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
    for (const KqdbCommand& command : KqdbCommand::all()) {
        if (name == QLatin1String(command.name))
            return command.run(args);
    }
    kqdbPrintError(QStringLiteral("unknown command %1").arg(name));
    return printUsage();
}
