// kqdb export TARGET [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--num N] [--encoding gbk
//                    [--replace-unmappable]] [--raw]

#include "KqdbCommand.h"

#include "attendance/ServerSchemaCheck.h"
#include "interchange/AttendanceExport.h"
#include "platform/Exception.h"
#include "platform/ProgressBar.h"
#include "platform/SpoolFile.h"
#include "query/AdoConnection.h"
#include "query/DatabaseTarget.h"

#include <QRegularExpression>

#include <cstdio>
#include <optional>

namespace {

const char kExportUsage[] =
    "export TARGET [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--num N]\n"
    "       [--encoding gbk [--replace-unmappable]] [--raw]\n"
    "      writes the attendance records as CSV (num,name,date,time) to standard output,\n"
    "      dates inclusive, in UTF-8 or, with --encoding gbk, in the Chinese code page (a\n"
    "      character GBK lacks stops the export, unless --replace-unmappable writes \"?\"\n"
    "      for it); a value a spreadsheet would take for a formula (= + - @ TAB CR at its\n"
    "      start) gets an apostrophe in front, unless --raw writes every value untouched";

std::optional<QDate> parseDate(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
}

int runExport(const QStringList& args)
{
    QString target;
    AttendanceExport::Filter filter;
    AttendanceExport::Options options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if ((arg == u"--from" || arg == u"--to") && hasValue) {
            const std::optional<QDate> date = parseDate(args.at(++i));
            if (!date)
                return kqdbUsageError(
                    QStringLiteral("%1 takes a date as YYYY-MM-DD, not \"%2\"").arg(arg, args.at(i)),
                    kExportUsage);
            (arg == u"--from" ? filter.from : filter.to) = *date;
        } else if (arg == u"--num" && hasValue && !args.at(i + 1).isEmpty()) {
            filter.num = args.at(++i);
        } else if (arg == u"--encoding" && hasValue) {
            const QString name = args.at(++i).toLower();
            if (name == u"gbk")
                options.encoding = AttendanceExport::Encoding::Gbk;
            else if (name != u"utf-8" && name != u"utf8")
                return kqdbUsageError(
                    QStringLiteral("--encoding takes gbk or utf-8, not \"%1\"").arg(args.at(i)),
                    kExportUsage);
        } else if (arg == u"--raw") {
            options.cells = CsvWriter::Cells::Raw;
        } else if (arg == u"--replace-unmappable") {
            options.replaceUnmappable = true;
        } else if (!arg.startsWith(u"--") && target.isEmpty()) {
            target = arg;
        } else if (arg.startsWith(u"--")) {
            return kqdbOptionError(arg, kExportUsage);
        } else {
            return kqdbUsageError(QStringLiteral("too many arguments"), kExportUsage);
        }
    }
    if (target.isEmpty())
        return kqdbUsageError(QStringLiteral("missing TARGET"), kExportUsage);
    if (options.replaceUnmappable && options.encoding != AttendanceExport::Encoding::Gbk)
        return kqdbUsageError(
            QStringLiteral("--replace-unmappable goes with --encoding gbk: UTF-8 holds every character"),
            kExportUsage);
    if (filter.from.isValid() && filter.to.isValid() && filter.from > filter.to)
        return kqdbUsageError(QStringLiteral("--from is after --to"), kExportUsage);

    const QString connectionString = kqdbConnectionString(target, kExportUsage);
    if (connectionString.isEmpty())
        return KqdbExit::kUsage;
    AdoConnection connection;
    connection.setConnectionString(connectionString);
    connection.setOpenCheck(ServerSchemaCheck::run);
    // Reading only: a user who may read the file but not write it (a payroll clerk) can
    // export, and nothing of the file is ever changed.
    connection.setMode(AdoConnection::Mode::Read);
    // A file's records are gathered first and written out once the read has ended, so that
    // an export into a pipe nobody reads holds no lock a terminal's swipe would wait for. A
    // server reads from a snapshot of its own and never holds up a swipe: its records go
    // straight out, and memory stays flat however many there are.
    const bool spoolFirst = !DatabaseTarget::parse(target).isServer();
    SpoolFile spool;
    bool writeFailed = false;
    const auto write = [&](const QByteArray& bytes) {
        if (spoolFirst)
            spool.append(bytes);
        else if (!writeFailed &&
                 std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()))
            writeFailed = true;
    };
    try {
        // Counting costs a second pass over the records; only a bar on a terminal needs it.
        const qint64 total =
            ProgressBar::isTerminal(stderr) ? AttendanceExport::count(connection, filter) : 0;
        ProgressBar bar(stderr, QStringLiteral("export"), total);
        const AttendanceExport::Result result =
            AttendanceExport::run(connection, filter, options, write, [&](qint64 done) { bar.update(done); });
        bar.finish();
        connection.close();
        if (!spool.error().isEmpty()) {
            kqdbPrintError(spool.error());
            return KqdbExit::kFailed;
        }
        if (spoolFirst && !spool.copyTo(stdout))
            writeFailed = true;
        if (writeFailed || std::fflush(stdout) != 0) {
            kqdbPrintError(spool.error().isEmpty() ? QStringLiteral("cannot write to standard output")
                                                   : spool.error());
            return KqdbExit::kFailed;
        }
        if (!result.ok) {
            kqdbPrintError(QStringLiteral("%1; the export stopped there, after %2 records: the output is "
                                          "incomplete")
                               .arg(result.error, QString::number(result.records)));
            return KqdbExit::kFailed;
        }
        if (result.replaced > 0)
            kqdbPrintError(QStringLiteral("wrote \"?\" for %1 characters GBK lacks (--replace-unmappable)")
                               .arg(result.replaced));
    } catch (const Exception& error) {
        kqdbPrintError(error.message());
        return KqdbExit::kFailed;
    }
    return KqdbExit::kOk;
}

const KqdbCommand::Registration kRegistration(40, "export", kExportUsage, runExport);

} // namespace
