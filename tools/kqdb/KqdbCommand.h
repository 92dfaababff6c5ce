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

// Exit codes shared by the commands: one per kind of outcome, whichever command ran (listed
// by `kqdb --help`).
namespace KqdbExit {
constexpr int kOk = 0;
// The database, the server or a file refused or could not do the work.
constexpr int kFailed = 1;
// An unknown command or option, a missing or extra argument, a TARGET that cannot be read.
constexpr int kUsage = 2;
constexpr int kNoSuchEmployee = 3;
constexpr int kAlreadyRecorded = 4;
} // namespace KqdbExit

// The text and a line end on standard output, in the locale's encoding.
void kqdbPrintLine(const QString& text);
// "kqdb: text" on standard error.
void kqdbPrintError(const QString& text);
// Every usage error of every command has one form, on standard error: what was wrong
// ("kqdb: missing NUM", "kqdb: unknown option --x"), then that command's usage line only
// ("usage: kqdb swipe TARGET NUM [--now ...]"), never the whole listing.
//
// A command's usage text is its synopsis, on the first line and the lines continuing it
// (those starting with blanks and "["), then its description, indented by six blanks.
QString kqdbSynopsis(const char* usage);
// "kqdb: <what>" and "usage: kqdb <synopsis>" on standard error; returns KqdbExit::kUsage.
int kqdbUsageError(const QString& what, const char* usage);
// For an argument starting with "-" that the command does not take: "unknown option --x", or
// "--now needs a value" for one of the command's own options given last; returns
// KqdbExit::kUsage.
int kqdbOptionError(const QString& arg, const char* usage);
// The count of a command's plain arguments against the names its usage gives them: "missing
// NUM" for the first one absent, "too many arguments" beyond them (not quoted: a stray word
// is often the rest of an unquoted TARGET that holds a password). True when it fits; after a
// false the caller returns KqdbExit::kUsage.
bool kqdbArgumentsFit(qsizetype given, const QStringList& names, const char* usage);
// Whether the arguments after a command ask for its help (--help or -h anywhere among them).
bool kqdbAsksForHelp(const QStringList& args);

// The connection string for a TARGET as every command takes it (see DatabaseTarget): a
// PostgreSQL URI or libpq keyword/value text selects a server, anything else is the path
// of a database file. A server text libpq cannot read gives the empty text, after the usage
// error "kqdb: <why>" (which does not quote it) and the command's usage line: the caller then
// returns KqdbExit::kUsage, as for any argument it cannot use.
QString kqdbConnectionString(const QString& target, const char* usage);
