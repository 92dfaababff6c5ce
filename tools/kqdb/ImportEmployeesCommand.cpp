// kqdb import-employees TARGET FILE.csv [--new-only | --replace]

#include "KqdbCommand.h"

#include "attendance/ServerSchemaCheck.h"
#include "interchange/EmployeeImport.h"
#include "platform/Exception.h"
#include "platform/ProgressBar.h"
#include "query/AdoConnection.h"

#include <cstdio>
#include <optional>

namespace {

const char kImportUsage[] =
    "import-employees TARGET FILE.csv [--new-only | --replace]\n"
    "      loads employees from CSV (UTF-8, header num,name[,dept_no] in any order), all or\n"
    "      nothing; every number must be new, unless --new-only skips numbers already in\n"
    "      the list or --replace makes the file the whole list; numbers are ASCII letters\n"
    "      and digits, and no field holds control characters";

int runImport(const QStringList& args)
{
    QStringList positional;
    std::optional<EmployeeImport::Mode> mode;
    for (const QString& arg : args) {
        if ((arg == u"--new-only" || arg == u"--replace") && mode)
            return kqdbUsageError(QStringLiteral("--new-only and --replace go one at a time"), kImportUsage);
        else if (arg == u"--new-only")
            mode = EmployeeImport::Mode::NewOnly;
        else if (arg == u"--replace")
            mode = EmployeeImport::Mode::Replace;
        else if (arg.startsWith(u"--"))
            return kqdbOptionError(arg, kImportUsage);
        else
            positional.append(arg);
    }
    if (!kqdbArgumentsFit(positional.size(), {QStringLiteral("TARGET"), QStringLiteral("FILE.csv")},
                          kImportUsage))
        return KqdbExit::kUsage;
    const QString connectionString = kqdbConnectionString(positional.at(0), kImportUsage);
    if (connectionString.isEmpty())
        return KqdbExit::kUsage;

    QByteArray csv;
    QString readError;
    if (!EmployeeImport::readSource(positional.at(1), csv, readError)) {
        kqdbPrintError(readError + QStringLiteral("; nothing imported"));
        return KqdbExit::kFailed;
    }

    AdoConnection connection;
    connection.setConnectionString(connectionString);
    connection.setOpenCheck(ServerSchemaCheck::run);
    EmployeeImport::Result result;
    try {
        std::optional<ProgressBar> bar;
        result = EmployeeImport::run(connection, csv, mode.value_or(EmployeeImport::Mode::Add),
                                     [&](qint64 done, qint64 total) {
                                         if (!bar)
                                             bar.emplace(stderr, QStringLiteral("import"), total);
                                         bar->update(done);
                                     });
        if (bar)
            bar->finish();
    } catch (const Exception& error) {
        kqdbPrintError(error.message());
        return KqdbExit::kFailed;
    }
    if (!result.ok) {
        const QString where =
            result.line > 0 ? QStringLiteral("%1:%2: ").arg(positional.at(1), QString::number(result.line))
                            : positional.at(1) + QStringLiteral(": ");
        kqdbPrintError(where + result.error + QStringLiteral("; nothing imported"));
        return KqdbExit::kFailed;
    }
    std::printf("imported %lld employees", static_cast<long long>(result.added));
    if (result.skipped > 0)
        std::printf(", skipped %lld already in the list", static_cast<long long>(result.skipped));
    if (result.removed > 0)
        std::printf(", replacing %lld", static_cast<long long>(result.removed));
    std::printf("\n");
    return KqdbExit::kOk;
}

const KqdbCommand::Registration kRegistration(30, "import-employees", kImportUsage, runImport);

} // namespace
