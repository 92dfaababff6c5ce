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
    // What the process may take beyond the memory it starts with (a copy of this process):
    // reading kq-big.mdb takes a few MB, and a damaged file that sends the library after
    // more is reported damaged long before an operator's PC runs short.
    static constexpr std::size_t kMemoryBudget = std::size_t(256) << 20;

    AccessReaderProcess(const QString& path, std::chrono::milliseconds silenceLimit,
                        std::size_t memoryBudget = kMemoryBudget);
    ~AccessReaderProcess();
    AccessReaderProcess(const AccessReaderProcess&) = delete;
    AccessReaderProcess& operator=(const AccessReaderProcess&) = delete;

    // Up to `size` bytes, 0 at the end of the stream. A process that says nothing for too
    // long is killed and std::runtime_error thrown; a failing read throws EAccessFileError.
    qsizetype read(char* buffer, qsizetype size);
    // Waits for the process to end (killing it after a grace period). An empty text when
    // it exited with status 0, otherwise how it ended, with what it printed.
    QString finish();
    // The most memory the process held at once (its peak resident size), known once it
    // has ended.
    qint64 peakMemoryKiB() const { return m_peakMemoryKiB; }

private:
    QString printed() const;

    QString m_path;
    int m_silenceLimitMs;
    pid_t m_pid = -1;
    int m_pipe = -1;
    int m_stderr = -1;
    qint64 m_peakMemoryKiB = 0;
};
