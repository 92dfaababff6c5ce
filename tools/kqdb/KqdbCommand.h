#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// One kqdb command. Each command lives in a file of its own and registers itself with a
// static KqdbCommand::Registration, so that adding a command touches no shared table.
struct KqdbCommand
{
    using Run = std::function<int(const QStringList&)>;

    // Sort key of the usage listing; the command's name breaks ties.
    int order = 0;
    const char* name = "";
    const char* usage = "";
    Run run;

    struct Registration
    {
        Registration(int order, const char* name, const char* usage, Run run);
    };

    // Every registered command, in listing order.
    static const std::vector<KqdbCommand>& all();
};

// Exit codes shared by the commands.
namespace KqdbExit {
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
} // namespace KqdbExit

// The text and a line end on standard output, in the locale's encoding.
void kqdbPrintLine(const QString& text);
// "kqdb: text" on standard error.
void kqdbPrintError(const QString& text);
// "usage: kqdb <usage>" on standard error; returns KqdbExit::kUsage.
int kqdbUsageError(const char* usage);

// The connection string for a TARGET as every command takes it (see DatabaseTarget): a
// PostgreSQL URI or libpq keyword/value text selects a server, anything else is the path
// of a database file. A server text libpq cannot read gives the empty text, after
// "kqdb: <why>" on standard error that does not quote it.
QString kqdbConnectionString(const QString& target);
