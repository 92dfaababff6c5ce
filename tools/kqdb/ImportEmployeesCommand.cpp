// kqdb import-employees TARGET FILE.csv [--new-only | --replace]

#include "KqdbCommand.h"

#include "attendance/ServerSchemaCheck.h"
#include "interchange/EmployeeImport.h"
#include "platform/Exception.h"
#include "platform/InterruptSignals.h"
#include "platform/ProgressBar.h"
#include "query/AdoConnection.h"

#include <cstdio>
#include <optional>
#include <stdexcept>

namespace {

const char kImportUsage[] =
    "import-employees TARGET FILE.csv [--new-only | --replace]\n"
    "      loads employees from CSV (UTF-8, header num,name[,dept_no] in any order), all or\n"
    "      nothing; every number must be new, unless --new-only skips numbers already in\n"
    "      the list or --replace makes the file the whole list; numbers are printable ASCII\n"
    "      without blanks, no field holds control characters, widths count GBK bytes";

int importInto(const QString& connectionString, const QString& csvPath, const QByteArray& csv,
               std::optional<EmployeeImport::Mode> mode);

int runImport(const QStringList& args)
{
    // Ctrl+C or SIGTERM, from the start on, stops the import where it rolls back: the list
    // stays as it was, and no journal is left behind.
    const InterruptSignals interrupt;
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

    const int status = importInto(connectionString, positional.at(1), csv, mode);
    if (status != KqdbExit::kOk)
        InterruptSignals::endAsInterrupted();
    return status;
}

int importInto(const QString& connectionString, const QString& csvPath, const QByteArray& csv,
               std::optional<EmployeeImport::Mode> mode)
{
    const auto interrupted = [] {
        kqdbPrintError(QStringLiteral("interrupted (%1); nothing imported")
                           .arg(QLatin1String(InterruptSignals::name())));
        return KqdbExit::kFailed;
    };
    EmployeeImport::Result result;
    try {
        AdoConnection connection;
        connection.setConnectionString(connectionString);
        connection.setOpenCheck(ServerSchemaCheck::run);
        std::optional<ProgressBar> bar;
        result = EmployeeImport::run(connection, csv, mode.value_or(EmployeeImport::Mode::Add),
                                     [&](qint64 done, qint64 total) {
                                         // Thrown before the commit: the transaction rolls back.
                                         if (InterruptSignals::requested())
                                             throw std::runtime_error("interrupted");
                                         if (!bar)
                                             bar.emplace(stderr, QStringLiteral("import"), total);
                                         bar->update(done);
                                     });
        if (bar)
            bar->finish();
    } catch (const Exception& error) {
        if (InterruptSignals::requested())
            return interrupted();
        kqdbPrintError(error.message());
        return KqdbExit::kFailed;
    } catch (const std::runtime_error&) {
        if (InterruptSignals::requested())
            return interrupted();
        throw;
    }
    if (!result.ok) {
        if (InterruptSignals::requested())
            return interrupted();
        const QString where = result.line > 0
                                  ? QStringLiteral("%1:%2: ").arg(csvPath, QString::number(result.line))
                                  : csvPath + QStringLiteral(": ");
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
