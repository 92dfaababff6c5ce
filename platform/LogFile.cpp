#include "platform/LogFile.h"

#include "platform/FileError.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr char kEndOfFileMark = 26;
constexpr qint64 kEndOfFileMarkWindow = 128;

[[noreturn]] void throwIoError(int code, const QString& text)
{
    throw FileError(QStringLiteral("I/O error %1 (%2)").arg(code).arg(text), code);
}

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

#ifdef Q_OS_WIN

const wchar_t* nativePath(const QString& path)
{
    return reinterpret_cast<const wchar_t*>(path.utf16());
}

// The C runtime sets errno for every failure, but the system's own code is the more
// telling one (a sharing violation rather than "permission denied"), so it wins when the
// failing call reached the system. Callers clear the system's code before each call.
[[noreturn]] void throwLastError(int runtimeCode)
{
    const DWORD systemCode = GetLastError();
    if (systemCode != 0)
        throwIoError(int(systemCode), qt_error_string(int(systemCode)));
    throwIoError(runtimeCode, errnoText(runtimeCode));
}

#else

[[noreturn]] void throwErrno(int code)
{
    throwIoError(code, errnoText(code));
}

int retryOnInterrupt(auto call)
{
    int rc;
    do {
        rc = call();
    } while (rc < 0 && errno == EINTR);
    return rc;
}

#endif

} // namespace

#ifdef Q_OS_WIN

int LogFile::createIfMissing(const QString& path)
{
    const QString native = QDir::toNativeSeparators(path);
    const DWORD attributes = GetFileAttributesW(nativePath(native));
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    int fd = -1;
    const errno_t rc = _wsopen_s(&fd, nativePath(native), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                                 _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (rc != 0)
        return rc;
    _close(fd);
    return 0;
}

// Read access as well, for the end-of-file mark; denying write sharing is the lock.
LogFile::LogFile(const QString& path, int creationError)
{
    SetLastError(0);
    const errno_t rc = _wsopen_s(&m_fd, nativePath(QDir::toNativeSeparators(path)),
                                 _O_RDWR | _O_APPEND | _O_BINARY | _O_NOINHERIT, _SH_DENYWR, 0);
    if (rc != 0) {
        m_fd = -1;
        if (rc == ENOENT && creationError != 0 && creationError != ENOENT)
            throwIoError(creationError, errnoText(creationError));
        throwLastError(rc);
    }
}

LogFile::~LogFile()
{
    if (m_fd >= 0)
        _close(m_fd);
}

void LogFile::cutEndOfFileMark()
{
    SetLastError(0);
    const __int64 size = _filelengthi64(m_fd);
    if (size < 0)
        throwLastError(errno);
    const __int64 start = qMax<__int64>(0, size - kEndOfFileMarkWindow);
    if (_lseeki64(m_fd, start, SEEK_SET) < 0)
        throwLastError(errno);
    char tail[kEndOfFileMarkWindow];
    const int got = _read(m_fd, tail, unsigned(size - start));
    if (got < 0)
        throwLastError(errno);
    const void* mark = std::memchr(tail, kEndOfFileMark, size_t(got));
    if (!mark)
        return;
    const errno_t rc = _chsize_s(m_fd, start + (static_cast<const char*>(mark) - tail));
    if (rc != 0)
        throwLastError(rc);
}

// _O_APPEND puts every write at the end.
void LogFile::write(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        SetLastError(0);
        const int n = _write(m_fd, data, unsigned(qMin<qsizetype>(left, INT_MAX)));
        if (n < 0)
            throwLastError(errno);
        if (n == 0)
            throwIoError(ERROR_DISK_FULL, qt_error_string(ERROR_DISK_FULL));
        data += n;
        left -= n;
    }
}

void LogFile::close()
{
    const int fd = m_fd;
    m_fd = -1;
    SetLastError(0);
    if (_close(fd) != 0)
        throwLastError(errno);
}

#else

int LogFile::createIfMissing(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (lstat(name.constData(), &st) == 0 && S_ISREG(st.st_mode))
        return 0;
    // Never through a symbolic link: one planted under the log's name could otherwise make
    // the terminal create or append to a file of the link's choosing.
    const int fd = retryOnInterrupt(
        [&] { return ::open(name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666); });
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

LogFile::LogFile(const QString& path, int creationError)
{
    const QByteArray name = QFile::encodeName(path);
    m_fd = retryOnInterrupt([&] { return ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC); });
    if (m_fd < 0) {
        const int code = errno;
        throwErrno(code == ENOENT && creationError != 0 ? creationError : code);
    }
    if (retryOnInterrupt([&] { return flock(m_fd, LOCK_EX | LOCK_NB); }) != 0) {
        const int code = errno;
        ::close(m_fd);
        m_fd = -1;
        throwErrno(code);
    }
}

LogFile::~LogFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void LogFile::cutEndOfFileMark()
{
    struct stat st;
    if (fstat(m_fd, &st) != 0)
        throwErrno(errno);
    const qint64 start = qMax<qint64>(0, st.st_size - kEndOfFileMarkWindow);
    char tail[kEndOfFileMarkWindow];
    const ssize_t got = pread(m_fd, tail, size_t(st.st_size - start), off_t(start));
    if (got < 0)
        throwErrno(errno);
    const void* mark = std::memchr(tail, kEndOfFileMark, size_t(got));
    if (mark && ftruncate(m_fd, off_t(start + (static_cast<const char*>(mark) - tail))) != 0)
        throwErrno(errno);
}

void LogFile::write(const QByteArray& bytes)
{
    if (lseek(m_fd, 0, SEEK_END) < 0)
        throwErrno(errno);
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throwErrno(n < 0 ? errno : ENOSPC);
        data += n;
        left -= n;
    }
}

// Closing also releases the lock. An interrupted close has still closed the file.
void LogFile::close()
{
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        throwErrno(errno);
}

#endif
