#pragma once

#include "query/DatabaseTarget.h"

#include <QString>
#include <QStringList>

// The terminal's command line: --help, --version and --database TARGET, nothing else.
// It is read before the application object exists, and Qt is handed only the program
// name, so Qt's own options (-reverse, -style, -platform ...) cannot change the
// terminal's fixed layout.
class TerminalCommandLine
{
public:
    enum class Action
    {
        Run,
        Help,
        Version,
        Refuse
    };

    // arguments[0] is the program.
    static TerminalCommandLine parse(const QStringList& arguments);

    Action action() const { return m_action; }
    // The --database target; None when the option was not given.
    const DatabaseTarget& database() const { return m_database; }

    // For every action but Run: prints help or version to standard output, or the
    // reason and the usage line to standard error, and returns the exit code.
    int report() const;

    // The whole help, "usage: " and the usage line first.
    static QString usage();
    // The one line a usage error ends with.
    static QString usageLine();
    static constexpr int kUsageExit = 2;

private:
    Action m_action = Action::Run;
    DatabaseTarget m_database;
    QString m_error;
};
