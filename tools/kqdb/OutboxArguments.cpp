#include "OutboxArguments.h"

#include "KqdbCommand.h"

#include "attendance/LocalStore.h"

std::optional<OutboxArguments> OutboxArguments::parse(const QStringList& args, const char* usage,
                                                      int* exitCode, bool acceptRetry)
{
    QStringList positional;
    QString store;
    bool retry = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == u"--store" && i + 1 < args.size()) {
            store = args.at(++i);
        } else if (acceptRetry && args.at(i) == u"--retry-refused") {
            retry = true;
        } else if (args.at(i).startsWith(u"--")) {
            *exitCode = kqdbOptionError(args.at(i), usage);
            return std::nullopt;
        } else {
            positional.append(args.at(i));
        }
    }
    if (!kqdbArgumentsFit(positional.size(), {QStringLiteral("TARGET")}, usage)) {
        *exitCode = KqdbExit::kUsage;
        return std::nullopt;
    }
    OutboxArguments parsed;
    parsed.connectionString = kqdbConnectionString(positional.at(0), usage);
    if (parsed.connectionString.isEmpty()) {
        *exitCode = KqdbExit::kUsage;
        return std::nullopt;
    }
    parsed.retryRefused = retry;
    parsed.storePath = store.isEmpty() ? LocalStore::pathFor(parsed.connectionString) : store;
    return parsed;
}
