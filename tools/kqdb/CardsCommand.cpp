// kqdb cards import TARGET FILE.csv [--replace]
// kqdb cards export TARGET
// kqdb cards add TARGET CARD NUM
// kqdb cards remove TARGET CARD

#include "KqdbCommand.h"

#include "interchange/CardImport.h"
#include "interchange/EmployeeImport.h"
#include "platform/Exception.h"
#include "query/AdoConnection.h"

#include <cstdio>

namespace {

const char kCardsUsage[] =
    "cards {import TARGET FILE.csv [--replace] | export TARGET | add TARGET CARD NUM | remove TARGET CARD}\n"
    "      which employee each badge or key fob belongs to: import loads cards from CSV\n"
    "      (UTF-8, header card,num in any order), all or nothing; every card must be new,\n"
    "      unless --replace makes the file the whole card list; a card is printable ASCII\n"
    "      without blanks as the reader types it, given once, to an employee in the list; export\n"
    "      writes them as CSV to standard output; add gives one card, remove takes one back";

int refused(const QString& where, const CardImport::Result& result, const char* nothing)
{
    const QString at = result.line > 0 ? QStringLiteral("%1:%2: ").arg(where, QString::number(result.line))
                                       : (where.isEmpty() ? QString() : where + QStringLiteral(": "));
    kqdbPrintError(at + result.error + QString::fromLatin1(nothing));
    return KqdbExit::kFailed;
}

int runCards(const QStringList& args)
{
    if (args.isEmpty())
        return kqdbUsageError(QStringLiteral("missing import, export, add or remove"), kCardsUsage);
    const QString action = args.first();
    QStringList positional;
    bool replace = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args.at(i) == u"--replace" && action == u"import" && !replace)
            replace = true;
        else if (args.at(i).startsWith(u"--"))
            return kqdbOptionError(args.at(i), kCardsUsage);
        else
            positional.append(args.at(i));
    }
    QStringList names;
    if (action == u"import")
        names = {QStringLiteral("TARGET"), QStringLiteral("FILE.csv")};
    else if (action == u"export")
        names = {QStringLiteral("TARGET")};
    else if (action == u"add")
        names = {QStringLiteral("TARGET"), QStringLiteral("CARD"), QStringLiteral("NUM")};
    else if (action == u"remove")
        names = {QStringLiteral("TARGET"), QStringLiteral("CARD")};
    else if (action.startsWith(u'-'))
        return kqdbOptionError(action, kCardsUsage);
    else if (args.size() > 5)
        // More than any of the four takes ("import TARGET FILE.csv --replace").
        return kqdbUsageError(QStringLiteral("too many arguments"), kCardsUsage);
    else
        return kqdbUsageError(QStringLiteral("unknown cards command %1").arg(action), kCardsUsage);
    if (!kqdbArgumentsFit(positional.size(), names, kCardsUsage))
        return KqdbExit::kUsage;
    const QString connectionString = kqdbConnectionString(positional.at(0), kCardsUsage);
    if (connectionString.isEmpty())
        return KqdbExit::kUsage;

    QByteArray csv;
    if (action == u"import") {
        QString readError;
        if (!EmployeeImport::readSource(positional.at(1), csv, readError)) {
            kqdbPrintError(QStringLiteral("%1: %2; nothing imported").arg(positional.at(1), readError));
            return KqdbExit::kFailed;
        }
    }

    AdoConnection connection;
    connection.setConnectionString(connectionString);
    try {
        if (action == u"export") {
            const QByteArray out = CardImport::exportCsv(connection);
            std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
            if (std::fflush(stdout) != 0) {
                kqdbPrintError(QStringLiteral("standard output cannot be written"));
                return KqdbExit::kFailed;
            }
            return KqdbExit::kOk;
        }
        if (action == u"import") {
            const CardImport::Result result =
                CardImport::run(connection, csv, replace ? CardImport::Mode::Replace : CardImport::Mode::Add);
            if (!result.ok)
                return refused(positional.at(1), result, "; nothing imported");
            std::printf("imported %lld cards", static_cast<long long>(result.added));
            if (result.removed > 0)
                std::printf(", replacing %lld", static_cast<long long>(result.removed));
            std::printf("\n");
            return KqdbExit::kOk;
        }
        if (action == u"add") {
            const CardImport::Result result = CardImport::add(connection, positional.at(1), positional.at(2));
            if (!result.ok)
                return refused(QString(), result, "; nothing changed");
            kqdbPrintLine(
                QStringLiteral("card %1 given to employee %2").arg(positional.at(1), positional.at(2)));
            return KqdbExit::kOk;
        }
        const CardImport::Result result = CardImport::remove(connection, positional.at(1));
        if (!result.ok)
            return refused(QString(), result, "; nothing changed");
        kqdbPrintLine(QStringLiteral("card %1 taken back").arg(positional.at(1)));
        return KqdbExit::kOk;
    } catch (const Exception& error) {
        kqdbPrintError(error.message());
        return KqdbExit::kFailed;
    }
}

const KqdbCommand::Registration kRegistration(35, "cards", kCardsUsage, runCards);

} // namespace
