// kqdb terminal-database

#include "KqdbCommand.h"

#include "platform/AppSettings.h"
#include "query/DatabaseTarget.h"

#include <QDir>

namespace {

const char kTerminalDatabaseUsage[] =
    "terminal-database\n"
    "      prints the database a terminal started without --database opens: the file's\n"
    "      path, or \"server: \" and the server's connection text without its password";

// The same choice the terminal's show sequence makes: the database named in the settings,
// else kq.mdb in the database folder.
int runTerminalDatabase(const QStringList& args)
{
    for (const QString& arg : args)
        if (arg.startsWith(u"--"))
            return kqdbOptionError(arg, kTerminalDatabaseUsage);
    if (!kqdbArgumentsFit(args.size(), {}, kTerminalDatabaseUsage))
        return KqdbExit::kUsage;
    DatabaseTarget target = DatabaseTarget::configured();
    if (target.isNone())
        target = DatabaseTarget::file(AppSettings::GetMdbDir(AppSettings::KeyCreation::ReadOnly) +
                                      QDir::separator() + QStringLiteral("kq.mdb"));
    const QString text =
        target.isServer() ? QStringLiteral("server: ") + target.displayText() : target.displayText();
    kqdbPrintLine(text);
    return KqdbExit::kOk;
}

const KqdbCommand::Registration kRegistration(91, "terminal-database", kTerminalDatabaseUsage,
                                              runTerminalDatabase);

} // namespace
