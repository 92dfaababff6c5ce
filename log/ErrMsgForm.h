#pragma once

#include <QString>

class ActiveWindowSource;
class Clock;

// The error log's one object: it holds the log file's path and the two things the log
// reads from its surroundings, the clock and the active window. Never shown.
class ErrMsgForm
{
public:
    static ErrMsgForm& instance();

    // Starts as AppPaths::defaultLogFilePath(). An empty path makes every append fail
    // with an I/O error.
    const QString& logFileName() const { return m_logFileName; }
    void setLogFileName(const QString& path) { m_logFileName = path; }
    // Creates the folder of the log file; the entry point calls it once at start.
    bool createLogFolder() const;

    // Not owned; nullptr restores the system clock.
    void setClock(const Clock* clock);
    const Clock& clock() const { return *m_clock; }

    // Not owned; nullptr means no window is active.
    void setActiveWindowSource(const ActiveWindowSource* source) { m_activeWindowSource = source; }
    const ActiveWindowSource* activeWindowSource() const { return m_activeWindowSource; }

private:
    ErrMsgForm();

    QString m_logFileName;
    const Clock* m_clock;
    const ActiveWindowSource* m_activeWindowSource = nullptr;
};
