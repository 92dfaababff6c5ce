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

int kqdbUsageError(const char* usage)
{
    std::fprintf(stderr, "usage: kqdb %s\n", usage);
    return KqdbExit::kUsage;
}

int kqdbOptionError(const QString& arg, const char* usage)
{
    const QString text = QString::fromLatin1(usage);
    const bool known = text.contains(QStringLiteral("[%1 ").arg(arg)) || text.contains(QStringLiteral("| %1 ").arg(arg));
    if (known)
        kqdbPrintError(QStringLiteral("option %1 needs a value").arg(arg));
    else
        kqdbPrintError(QStringLiteral("unknown option %1").arg(arg));
    return kqdbUsageError(usage);
}

QString kqdbConnectionString(const QString& target)
{
    const DatabaseTarget parsed = DatabaseTarget::parse(target);
    if (!parsed.isValid())
        kqdbPrintError(parsed.problem());
    return parsed.connectionString();
}
