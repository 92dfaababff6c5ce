#include "support/TerminalProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace TestSupport {

namespace {

const QString kTavelo = QStringLiteral(TAVELO_BIN_DIR "/tavelo");

} // namespace

TerminalProcess::TerminalProcess()
{
    const QString runtime = m_dir.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    m_env.insert(QStringLiteral("XDG_CONFIG_DIRS"), m_dir.filePath(QStringLiteral("system")));
    m_env.insert(QStringLiteral("XDG_STATE_HOME"), m_dir.filePath(QStringLiteral("state")));
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
}

void TerminalProcess::writeSettings(const QByteArray& text) const
{
    const QString file = m_dir.filePath(QStringLiteral("config/tavelo/registry.ini"));
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile out(file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(text);
}

QByteArray TerminalProcess::errorLog() const
{
    QFile file(m_dir.filePath(QStringLiteral("state/tavelo/error.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TerminalProcess::removeErrorLog() const
{
    QFile::remove(m_dir.filePath(QStringLiteral("state/tavelo/error.log")));
}

TerminalProcess::Run TerminalProcess::runToEnd(const QStringList& args, int timeoutMs) const
{
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.start(kTavelo, args);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

TerminalProcess::Run TerminalProcess::runUntil(const QStringList& args, const std::function<bool()>& until,
                                               int timeoutMs) const
{
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.start(kTavelo, args);
    Run run;
    if (process.waitForStarted(10000)) {
        QElapsedTimer timer;
        timer.start();
        // Waiting on the process is what lets QProcess notice that it ended.
        bool ended = false;
        while (!ended && !until() && timer.elapsed() < timeoutMs)
            ended = process.waitForFinished(50);
        // Time for what should not follow (a second log line, an early end) to show.
        run.stayedUp = !ended && !process.waitForFinished(300);
        if (run.stayedUp) {
            process.kill();
            process.waitForFinished(10000);
        }
    }
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

TerminalProcess::Run TerminalProcess::runUntilLogged(const QStringList& args) const
{
    return runUntil(args, [this] { return errorLog().contains('\n'); });
}

int logLineCount(const QByteArray& log)
{
    return int(log.count("\r\n"));
}

} // namespace TestSupport
