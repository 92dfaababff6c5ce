#pragma once

#include <QByteArray>
#include <QStringList>

namespace TestSupport {

// What a finished command-line program left behind.
struct ToolRun
{
    // -1 when the program could not start, crashed or ran past its time.
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end (at most timeoutMs, then it is killed).
ToolRun runProgram(const QString& program, const QStringList& args, int timeoutMs = 60000);
// Runs the kqdb tool of this build.
ToolRun runKqdb(const QStringList& args, int timeoutMs = 60000);

} // namespace TestSupport
