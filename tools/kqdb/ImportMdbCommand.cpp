// kqdb import-mdb SOURCE.mdb TARGET [--employees-only] [--skip-existing]

#include "KqdbCommand.h"

#include "attendance/ServerSchemaCheck.h"
#include "interchange/AccessImport.h"
#include "interchange/AccessSource.h"
#include "interchange/DevSchema.h"
#include "platform/Exception.h"
#include "platform/InterruptSignals.h"
#include "platform/ProgressBar.h"
#include "query/AdoConnection.h"
#include "query/DatabaseTarget.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <optional>
#include <stdexcept>

namespace {

const char kImportMdbUsage[] =
    "import-mdb SOURCE.mdb TARGET [--employees-only] [--skip-existing]\n"
    "      brings the employees (employ) and attendance records (sgdjb) of an Access\n"
    "      database over into TARGET, all or nothing; a TARGET file that does not exist is\n"
    "      created; --employees-only leaves the records out; --skip-existing skips\n"
    "      employees TARGET has and records it holds (same number and time), so that a\n"
    "      second run adds nothing; exit 0 imported, 1 refused or failed (nothing\n"
    "      imported, the reason on stderr), 2 usage";

// A database file this command made, removed again unless the import got through: a
// refused import leaves no half-made file behind.
class NewFile
{
public:
    explicit NewFile(QString path) : m_path(std::move(path)) {}
    ~NewFile()
    {
        if (m_keep)
            return;
        QFile::remove(m_path);
        for (const char* companion : {"-journal", "-wal", "-shm"})
            QFile::remove(m_path + QLatin1String(companion));
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    void keep() { m_keep = true; }

private:
    QString m_path;
    bool m_keep = false;
};

int refused(QString why)
{
    if (InterruptSignals::requested())
        why = QStringLiteral("interrupted (%1)").arg(QLatin1String(InterruptSignals::name()));
    if (why.endsWith(u'.'))
        why.chop(1);
    kqdbPrintError(why + QStringLiteral("; nothing imported"));
    return KqdbExit::kFailed;
}

void printCounts(const AccessImport::Result& result, bool employeesOnly)
{
    std::printf("employees: %lld read, %lld written, %lld skipped as already there\n",
                static_cast<long long>(result.employeesRead), static_cast<long long>(result.employeesWritten),
                static_cast<long long>(result.employeesSkipped));
    if (employeesOnly)
        return;
    std::printf("attendance records: %lld read, %lld written, %lld skipped as already there\n",
                static_cast<long long>(result.attendanceRead),
                static_cast<long long>(result.attendanceWritten),
                static_cast<long long>(result.attendanceSkipped));
}

int importInto(const QString& sourcePath, const DatabaseTarget& target, const AccessImport::Options& options);

int runImportMdb(const QStringList& args)
{
    // Ctrl+C or SIGTERM, from the start on, stops the import where it can roll back, and a
    // new file goes.
    const InterruptSignals interrupt;
    QStringList positional;
    AccessImport::Options options;
    for (const QString& arg : args) {
        if (arg == u"--employees-only")
            options.employeesOnly = true;
        else if (arg == u"--skip-existing")
            options.skipExisting = true;
        else if (arg.startsWith(u"--"))
            return kqdbOptionError(arg, kImportMdbUsage);
        else
            positional.append(arg);
    }
    if (!kqdbArgumentsFit(positional.size(), {QStringLiteral("SOURCE.mdb"), QStringLiteral("TARGET")},
                          kImportMdbUsage))
        return KqdbExit::kUsage;
    const QString& sourcePath = positional.at(0);
    const QString& targetText = positional.at(1);

    const DatabaseTarget target = DatabaseTarget::parse(targetText);
    if (target.isNone())
        return kqdbUsageError(QStringLiteral("missing TARGET"), kImportMdbUsage);
    if (!target.isValid())
        return kqdbUsageError(target.problem(), kImportMdbUsage);

    const int status = importInto(sourcePath, target, options);
    // Rolled back and tidied up: now die of the signal, as the shell expects.
    if (status != KqdbExit::kOk)
        InterruptSignals::endAsInterrupted();
    return status;
}

int importInto(const QString& sourcePath, const DatabaseTarget& target, const AccessImport::Options& options)
{
    // The source is checked before TARGET is touched: a refused source changes nothing.
    std::optional<AccessSource> source;
    try {
        source.emplace(sourcePath);
    } catch (const Exception& error) {
        return refused(error.message());
    }

    std::optional<NewFile> created;
    if (!target.isServer() && !QFileInfo::exists(target.filePath())) {
        QString error;
        if (!DevSchema::createDatabase(target.filePath(), {}, &error))
            return refused(error);
        created.emplace(target.filePath());
        if (InterruptSignals::requested())
            return refused({});
    }

    AccessImport::Result result;
    {
        AdoConnection connection;
        connection.setConnectionString(target.connectionString());
        connection.setOpenCheck(ServerSchemaCheck::run);
        std::optional<ProgressBar> bar;
        result = AccessImport::run(*source, connection, options, [&](qint64 done, qint64 total) {
            // Stopped here, the import rolls back like any refusal.
            if (InterruptSignals::requested())
                throw std::runtime_error("interrupted");
            if (!bar)
                bar.emplace(stderr, QStringLiteral("import"), total);
            bar->update(done);
        });
        if (bar && result.ok)
            bar->finish();
    }
    if (!result.ok) {
        QString why = result.error;
        if (result.employeeExists)
            why += QStringLiteral(" (--skip-existing skips employees already there)");
        return refused(why);
    }
    if (created)
        created->keep();
    // Done and committed: a signal now has nothing left to stop.
    if (InterruptSignals::requested())
        std::fprintf(stderr, "kqdb: %s arrived after the import was committed\n", InterruptSignals::name());
    printCounts(result, options.employeesOnly);
    return KqdbExit::kOk;
}

const KqdbCommand::Registration kRegistration(35, "import-mdb", kImportMdbUsage, runImportMdb);

} // namespace
