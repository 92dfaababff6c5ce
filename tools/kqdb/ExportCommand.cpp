// kqdb export TARGET [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--num N] [--encoding gbk]

#include "KqdbCommand.h"

#include "db/AdoConnection.h"
#include "db/AttendanceExport.h"
#include "platform/Exception.h"
#include "platform/ProgressBar.h"
#include "platform/SpoolFile.h"

#include <QRegularExpression>

#include <cstdio>
#include <optional>

namespace {

const char kExportUsage[] =
    "export TARGET [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--num N] [--encoding gbk]\n"
    "      writes the attendance records as CSV (num,name,date,time) to standard output,\n"
    "      dates inclusive, in UTF-8 or, with --encoding gbk, in the Chinese code page";

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
    AttendanceExport::Encoding encoding = AttendanceExport::Encoding::Utf8;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if ((arg == u"--from" || arg == u"--to") && hasValue) {
            const std::optional<QDate> date = parseDate(args.at(++i));
            if (!date) {
                kqdbPrintError(QStringLiteral("%1 takes a date as YYYY-MM-DD, not %2").arg(arg, args.at(i)));
                return kqdbUsageError(kExportUsage);
            }
            (arg == u"--from" ? filter.from : filter.to) = *date;
        } else if (arg == u"--num" && hasValue && !args.at(i + 1).isEmpty()) {
            filter.num = args.at(++i);
        } else if (arg == u"--encoding" && hasValue) {
            const QString name = args.at(++i).toLower();
            if (name == u"gbk")
                encoding = AttendanceExport::Encoding::Gbk;
            else if (name != u"utf-8" && name != u"utf8")
                return kqdbUsageError(kExportUsage);
        } else if (!arg.startsWith(u"--") && target.isEmpty()) {
            target = arg;
        } else {
            return kqdbUsageError(kExportUsage);
        }
    }
    if (target.isEmpty())
        return kqdbUsageError(kExportUsage);
    if (filter.from.isValid() && filter.to.isValid() && filter.from > filter.to) {
        kqdbPrintError(QStringLiteral("--from is after --to"));
        return kqdbUsageError(kExportUsage);
    }

    AdoConnection connection;
    connection.setConnectionString(kqdbConnectionString(target));
    // Reading only: a user who may read the file but not write it (a payroll clerk) can
    // export, and nothing of the file is ever changed.
    connection.setMode(AdoConnection::Mode::Read);
    // The records are gathered first and written out once the read has ended, so that
    // an export into a pipe nobody reads holds no lock a terminal's swipe would wait for.
    SpoolFile spool;
    try {
        // Counting costs a second pass over the records; only a bar on a terminal needs it.
        const qint64 total =
            ProgressBar::isTerminal(stderr) ? AttendanceExport::count(connection, filter) : 0;
        ProgressBar bar(stderr, QStringLiteral("export"), total);
        AttendanceExport::run(
            connection, filter, encoding, [&](const QByteArray& bytes) { spool.append(bytes); },
            [&](qint64 done) { bar.update(done); });
        bar.finish();
        connection.close();
        if (!spool.error().isEmpty()) {
            kqdbPrintError(spool.error());
            return KqdbExit::kFailed;
        }
        if (!spool.copyTo(stdout) || std::fflush(stdout) != 0) {
            kqdbPrintError(spool.error().isEmpty() ? QStringLiteral("cannot write to standard output")
                                                   : spool.error());
            return KqdbExit::kFailed;
        }
    } catch (const Exception& error) {
        kqdbPrintError(error.message());
        return KqdbExit::kFailed;
    }
    return KqdbExit::kOk;
}

const KqdbCommand::Registration kRegistration(40, "export", kExportUsage, runExport);

} // namespace
