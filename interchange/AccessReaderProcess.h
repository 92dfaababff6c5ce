#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstddef>
#include <sys/types.h>

// The process an Access file is read in (AccessTableDump), seen from its parent: started
// at construction, its frames read from a pipe with a bound on silence, its end checked.
// The destructor kills a process that is still running.
class AccessReaderProcess
{
public:
    // The process may take `memoryBudget` bytes of address space beyond what it starts
    // with (a copy of this process's).
    AccessReaderProcess(const QString& path, std::chrono::milliseconds silenceLimit,
                        std::size_t memoryBudget);
    ~AccessReaderProcess();
    AccessReaderProcess(const AccessReaderProcess&) = delete;
    AccessReaderProcess& operator=(const AccessReaderProcess&) = delete;

    // Up to `size` bytes, 0 at the end of the stream. A process that says nothing for too
    // long is killed and std::runtime_error thrown; a failing read throws AccessFileError.
    qsizetype read(char* buffer, qsizetype size);
    // Waits for the process to end (killing it after a grace period). An empty text when
    // it exited with status 0, otherwise how it ended, with what it printed.
    QString finish();

private:
    QString printed() const;

    QString m_path;
    int m_silenceLimitMs;
    pid_t m_pid = -1;
    int m_pipe = -1;
    int m_stderr = -1;
};
