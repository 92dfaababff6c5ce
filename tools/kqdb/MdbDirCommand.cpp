// kqdb mdb-dir

#include "KqdbCommand.h"

#include "platform/AppSettings.h"

namespace {

const char kMdbDirUsage[] = "mdb-dir\n"
                            "      prints the database folder a terminal uses: the settings' mdb value,\n"
                            "      else the mdb folder beside the executable";

// The database folder a terminal installed beside this tool would use: the configured
// one, or the mdb folder next to the executable when none is configured.
int runMdbDir(const QStringList& args)
{
    for (const QString& arg : args)
        if (arg.startsWith(u"--"))
            return kqdbOptionError(arg, kMdbDirUsage);
    if (!kqdbArgumentsFit(args.size(), {}, kMdbDirUsage))
        return KqdbExit::kUsage;
    kqdbPrintLine(AppSettings::GetMdbDir(AppSettings::KeyCreation::ReadOnly));
    return KqdbExit::kOk;
}

const KqdbCommand::Registration kRegistration(90, "mdb-dir", kMdbDirUsage, runMdbDir);

} // namespace
