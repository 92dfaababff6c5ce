// kqdb: the database tool of the terminal. Each command is a file of this folder that
// registers itself (see KqdbCommand).

#include "KqdbCommand.h"

#include "query/ArgumentPasswords.h"

#include <QRegularExpression>

#include <cstdio>

namespace {

// Every command answers with these, so a script tells the kinds of failure apart the same
// way whichever command it ran.
const char kExitCodes[] =
    "TARGET is a database file's path, or a PostgreSQL server as a URI (postgresql://...) or\n"
    "libpq keyword/value text (host=... dbname=...).\n"
    "\n"
    "exit codes, the same for every command:\n"
    "  0  done\n"
    "  1  failed: the database, the server or a file refused or could not do the work\n"
    "     (why on standard error; an all-or-nothing command changed nothing)\n"
    "  2  usage: an unknown command or option, a missing or extra argument, a TARGET that\n"
    "     cannot be read\n"
    "  3  no such employee (swipe)\n"
    "  4  already recorded within three minutes (swipe)\n";

// The tool's own usage line, for a mistake made before any command is named.
const char kToolUsage[] = "COMMAND [ARGUMENTS] | --help | --version\n"
                          "      kqdb --help lists the commands";

void printUsage(std::FILE* to)
{
    std::fprintf(to, "usage:\n");
    for (const KqdbCommand& command : KqdbCommand::all())
        std::fprintf(to, "  kqdb %s\n", command.usage);
    std::fprintf(to, "  kqdb --version\n      prints the version\n\n%s", kExitCodes);
}

bool asksForHelp(const QString& arg)
{
    return arg == u"--help" || arg == u"-h" || arg == u"help";
}

bool asksForVersion(const QString& arg)
{
    return arg == u"--version" || arg == u"-v";
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    // Read now: from here on the process list shows no password of a TARGET.
    ArgumentPasswords::hide(argc, argv);
    if (args.isEmpty())
        return kqdbUsageError(QStringLiteral("no command given"), kToolUsage);
    // Asked for, the usage is the answer: standard output and success.
    if (asksForHelp(args.first())) {
        printUsage(stdout);
        return KqdbExit::kOk;
    }
    if (asksForVersion(args.first())) {
        if (args.size() > 1)
            return kqdbUsageError(QStringLiteral("too many arguments"), kToolUsage);
        std::printf("kqdb %s\n", TAVELO_VERSION);
        return KqdbExit::kOk;
    }
    const QString name = args.takeFirst();
    for (const KqdbCommand& command : KqdbCommand::all()) {
        if (name != QLatin1String(command.name))
            continue;
        // Wherever it stands among the command's arguments, --help answers with the command's
        // usage and does nothing else.
        if (kqdbAsksForHelp(args)) {
            std::printf("usage: kqdb %s\n", command.usage);
            return KqdbExit::kOk;
        }
        return command.run(args);
    }
    if (name.startsWith(u'-'))
        return kqdbUsageError(QStringLiteral("unknown option %1").arg(name), kToolUsage);
    // A stray word is often a TARGET typed first; it may hold a password, so it is not quoted
    // unless it has the shape of a command's name.
    static const QRegularExpression word(QStringLiteral("^[a-z][a-z-]{0,30}$"));
    if (word.match(name).hasMatch())
        return kqdbUsageError(QStringLiteral("unknown command %1").arg(name), kToolUsage);
    return kqdbUsageError(QStringLiteral("unknown command (the first argument names the command)"),
                          kToolUsage);
}
