#include "interchange/AccessReaderProcess.h"

#include "interchange/AccessTableDump.h"
#include "platform/AccessFileError.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kExitGraceMs = 5000;
constexpr qsizetype kPrintedExcerpt = 300;

[[noreturn]] void cannotStart(const QString& path, const char* step)
{
    throw AccessFileError(
        QStringLiteral("Cannot read Access file '%1': %2 failed: %3.")
            .arg(path, QString::fromLatin1(step), QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

AccessReaderProcess::AccessReaderProcess(const QString& path, std::chrono::milliseconds silenceLimit,
                                         std::size_t memoryBudget)
    : m_path(path), m_silenceLimitMs(int(std::min<qint64>(silenceLimit.count(), INT_MAX)))
{
    const QByteArray file = QFile::encodeName(path);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        cannotStart(path, "pipe");
    m_pipe = fds[0];
    m_stderr = ::memfd_create("tavelo-access-reader", MFD_CLOEXEC);
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (m_stderr < 0 || devNull < 0) {
        ::close(fds[1]);
        if (devNull >= 0)
            ::close(devNull);
        cannotStart(path, "memfd_create");
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        // libmdb's own chatter goes to a file the parent may quote, not to the user.
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(m_stderr, STDERR_FILENO);
        // Nothing of the parent's (its databases, other readers' pipes) stays open here.
        ::dup2(fds[1], 3);
        ::close_range(4, ~0u, 0);
        AccessTableDump::run(file.constData(), 3, memoryBudget);
    }
    const int forkError = errno;
    ::close(fds[1]);
    ::close(devNull);
    if (m_pid < 0) {
        errno = forkError;
        cannotStart(path, "fork");
    }
}

AccessReaderProcess::~AccessReaderProcess()
{
    if (m_pipe >= 0)
        ::close(m_pipe);
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_stderr >= 0)
        ::close(m_stderr);
}

qsizetype AccessReaderProcess::read(char* buffer, qsizetype size)
{
    for (;;) {
        pollfd p{m_pipe, POLLIN, 0};
        const int ready = ::poll(&p, 1, m_silenceLimitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            ::kill(m_pid, SIGKILL);
            finish();
            throw std::runtime_error(QStringLiteral("reading it made no progress for %1 s")
                                         .arg(m_silenceLimitMs / 1000.0)
                                         .toStdString());
        }
        const ssize_t n = ::read(m_pipe, buffer, std::size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            cannotStart(m_path, "reading from the reader process");
        return n;
    }
}

QString AccessReaderProcess::finish()
{
    if (m_pipe >= 0) {
        ::close(m_pipe);
        m_pipe = -1;
    }
    if (m_pid <= 0)
        return {};
    int status = 0;
    pid_t done = 0;
    for (int waited = 0; waited < kExitGraceMs; waited += 10) {
        done = ::waitpid(m_pid, &status, WNOHANG);
        if (done != 0 && !(done < 0 && errno == EINTR))
            break;
        ::usleep(10000);
    }
    if (done == 0) {
        ::kill(m_pid, SIGKILL);
        while ((done = ::waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) {
        }
    }
    m_pid = -1;
    QString ending;
    if (done < 0)
        ending = QStringLiteral("the reader process was lost");
    else if (WIFSIGNALED(status))
        ending = QStringLiteral("the reader process ended by signal %1 (%2)")
                     .arg(WTERMSIG(status))
                     .arg(QString::fromLocal8Bit(::strsignal(WTERMSIG(status))));
    else if (WEXITSTATUS(status) != 0)
        ending = QStringLiteral("the reader process exited with status %1").arg(WEXITSTATUS(status));
    else
        return {};
    const QString said = printed();
    return said.isEmpty() ? ending : ending + QStringLiteral(", saying \"%1\"").arg(said);
}

QString AccessReaderProcess::printed() const
{
    const off_t size = ::lseek(m_stderr, 0, SEEK_END);
    if (size <= 0)
        return {};
    const off_t from = size > kPrintedExcerpt ? size - kPrintedExcerpt : 0;
    QByteArray bytes(qsizetype(size - from), '\0');
    const ssize_t n = ::pread(m_stderr, bytes.data(), std::size_t(bytes.size()), from);
    bytes.truncate(n > 0 ? n : 0);
    return QString::fromUtf8(bytes).simplified();
}
