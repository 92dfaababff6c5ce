#include "support/ToolRun.h"

#include <QProcess>

namespace TestSupport {

ToolRun runProgram(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess process;
    process.start(program, args);
    ToolRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

ToolRun runKqdb(const QStringList& args, int timeoutMs)
{
    return runProgram(QStringLiteral(TAVELO_BIN_DIR "/kqdb"), args, timeoutMs);
}

} // namespace TestSupport
