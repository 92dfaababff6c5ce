#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace TestSupport {

// The real terminal program of this build, started headless in a private world: its
// settings files (user and machine-wide), error log and runtime folder all live in one
// temporary folder.
class TerminalProcess
{
public:
    struct Run
    {
        // -1 when it did not end by itself in time, or crashed.
        int exitCode = -1;
        QString out;
        QString err;
        // For starts that keep running: whether the window was still up at the end.
        bool stayedUp = false;
    };

    TerminalProcess();

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QProcessEnvironment& environment() { return m_env; }
    // Replaces the user's settings file.
    void writeSettings(const QByteArray& text) const;
    // The error log as it stands.
    QByteArray errorLog() const;
    void removeErrorLog() const;

    // A start that ends by itself (help, version, a refused command line).
    Run runToEnd(const QStringList& args, int timeoutMs = 20000) const;
    // Starts the terminal and waits (at most timeoutMs) until `until` holds, then a little
    // longer for anything that should not follow, and ends it.
    Run runUntil(const QStringList& args, const std::function<bool()>& until, int timeoutMs = 20000) const;
    // runUntil() the error log holds a line.
    Run runUntilLogged(const QStringList& args) const;

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
};

// Lines (CR LF ended) in an error log.
int logLineCount(const QByteArray& log);

} // namespace TestSupport
