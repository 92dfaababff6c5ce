#include "KqdbCommand.h"

#include "query/DatabaseTarget.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::vector<KqdbCommand>& registry()
{
    static std::vector<KqdbCommand> commands;
    return commands;
}

} // namespace

KqdbCommand::Registration::Registration(int order, const char* name, const char* usage, Run run)
{
    auto& commands = registry();
    commands.push_back(KqdbCommand{order, name, usage, std::move(run)});
    std::sort(commands.begin(), commands.end(), [](const KqdbCommand& a, const KqdbCommand& b) {
        return a.order != b.order ? a.order < b.order : std::strcmp(a.name, b.name) < 0;
    });
}

const std::vector<KqdbCommand>& KqdbCommand::all()
{
    return registry();
}

void kqdbPrintLine(const QString& text)
{
    std::printf("%s\n", text.toLocal8Bit().constData());
}

void kqdbPrintError(const QString& text)
{
    std::fprintf(stderr, "kqdb: %s\n", text.toLocal8Bit().constData());
}

QString kqdbSynopsis(const char* usage)
{
    const QStringList lines = QString::fromLatin1(usage).split(u'\n');
    QStringList synopsis{lines.first()};
    for (qsizetype i = 1; i < lines.size() && lines.at(i).trimmed().startsWith(u'['); ++i)
        synopsis.append(lines.at(i));
    return synopsis.join(u'\n');
}

int kqdbUsageError(const QString& what, const char* usage)
{
    kqdbPrintError(what);
    std::fprintf(stderr, "usage: kqdb %s\n", kqdbSynopsis(usage).toLatin1().constData());
    return KqdbExit::kUsage;
}

int kqdbOptionError(const QString& arg, const char* usage)
{
    const QString text = kqdbSynopsis(usage);
    const bool known =
        text.contains(QStringLiteral("[%1 ").arg(arg)) || text.contains(QStringLiteral("| %1 ").arg(arg));
    if (known)
        return kqdbUsageError(QStringLiteral("%1 needs a value").arg(arg), usage);
    return kqdbUsageError(QStringLiteral("unknown option %1").arg(arg), usage);
}

bool kqdbArgumentsFit(qsizetype given, const QStringList& names, const char* usage)
{
    if (given < names.size()) {
        kqdbUsageError(QStringLiteral("missing %1").arg(names.at(given)), usage);
        return false;
    }
    if (given > names.size()) {
        kqdbUsageError(QStringLiteral("too many arguments"), usage);
        return false;
    }
    return true;
}

bool kqdbAsksForHelp(const QStringList& args)
{
    return args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"));
}

QString kqdbConnectionString(const QString& target, const char* usage)
{
    const DatabaseTarget parsed = DatabaseTarget::parse(target);
    if (!parsed.isValid())
        kqdbUsageError(parsed.problem(), usage);
    return parsed.connectionString();
}
