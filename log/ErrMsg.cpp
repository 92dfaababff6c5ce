#include "log/ErrMsg.h"

#include "log/ActiveWindowSource.h"
#include "log/ErrMsgForm.h"
#include "platform/Clock.h"
#include "platform/DateTimeText.h"
#include "platform/EConvertError.h"
#include "platform/EDatabaseError.h"
#include "platform/EInOutError.h"
#include "platform/Gbk.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kNoActiveWindow[] = "None Active Window";
constexpr char kEndOfFileMark = 26;
constexpr qint64 kEndOfFileMarkWindow = 128;
// The window manager hands captions over in a buffer of this many bytes, zero included.
constexpr int kCaptionBuffer = 255;

[[noreturn]] void throwIoError(int code)
{
    throw EInOutError(
        QStringLiteral("I/O error %1 (%2)").arg(code).arg(QString::fromLocal8Bit(std::strerror(code))), code);
}

int retryOnInterrupt(auto call)
{
    int rc;
    do {
        rc = call();
    } while (rc < 0 && errno == EINTR);
    return rc;
}

// Cuts the file at the first end-of-file mark within its last 128 bytes, so that the
// text appended next takes the mark's place.
void dropEndOfFileMark(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        throwIoError(errno);
    const qint64 start = qMax<qint64>(0, st.st_size - kEndOfFileMarkWindow);
    char tail[kEndOfFileMarkWindow];
    const ssize_t got = pread(fd, tail, size_t(st.st_size - start), off_t(start));
    if (got < 0)
        throwIoError(errno);
    const void* mark = std::memchr(tail, kEndOfFileMark, size_t(got));
    if (mark && ftruncate(fd, off_t(start + (static_cast<const char*>(mark) - tail))) != 0)
        throwIoError(errno);
}

void writeAll(int fd, const QByteArray& bytes)
{
    if (lseek(fd, 0, SEEK_END) < 0)
        throwIoError(errno);
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throwIoError(n < 0 ? errno : ENOSPC);
        data += n;
        left -= n;
    }
}

} // namespace

QByteArray ErrMsg::FormatErrorLine(const QString& statement, const Exception& error)
{
    const ErrMsgForm& form = ErrMsgForm::instance();
    const QByteArray time = Gbk::encode(DateTimeText::dateTimeMinutes(form.clock().now()));
    const QByteArray category = Gbk::encode(ErrorCategory(error));
    const QByteArray tag = ActiveWindowTag();
    const QByteArray typeName = Gbk::encode(error.typeName());
    const QByteArray message = Gbk::encode(error.message());

    return time.leftJustified(17, ' ') + category.leftJustified(16, ' ') + tag.leftJustified(20, ' ') +
           typeName.leftJustified(16, ' ') + message + " << " + Gbk::encode(statement) + " >>";
}

void ErrMsg::AppendLogLine(const QString& filePath, const QByteArray& line)
{
    const QByteArray path = QFile::encodeName(filePath);

    // A failure to create shows when the file is opened below; a folder of that name
    // makes creation fail, so no file appears beside it.
    struct stat st;
    if (stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        const int created =
            retryOnInterrupt([&] { return ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666); });
        if (created >= 0)
            ::close(created);
    }

    const int fd = retryOnInterrupt([&] { return ::open(path.constData(), O_RDWR | O_CLOEXEC); });
    if (fd < 0)
        throwIoError(errno);

    // Readers may look at the log meanwhile; another writer is turned away at once.
    int failure = 0;
    if (retryOnInterrupt([&] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        failure = errno;
    } else {
        try {
            dropEndOfFileMark(fd);
            writeAll(fd, line + "\r\n");
        } catch (const EInOutError& e) {
            failure = e.errorCode();
        }
    }
    // Closing also releases the lock.
    if (::close(fd) != 0 && failure == 0 && errno != EINTR)
        failure = errno;
    if (failure != 0)
        throwIoError(failure);
}

QString ErrMsg::ErrorCategory(const Exception& error)
{
    if (dynamic_cast<const EConvertError*>(&error))
        return QStringLiteral("DataType Error");
    if (dynamic_cast<const EDatabaseError*>(&error))
        return QStringLiteral("Database Error");
    return QStringLiteral("System Error");
}

QByteArray ErrMsg::ActiveWindowTag()
{
    const QByteArray none(kNoActiveWindow);
    const ActiveWindowSource* source = ErrMsgForm::instance().activeWindowSource();
    if (!source)
        return none;

    QByteArray caption = Gbk::encode(source->activeWindowCaption());
    const qsizetype zero = caption.indexOf('\0');
    if (zero >= 0)
        caption.truncate(zero);
    caption.truncate(kCaptionBuffer - 1);

    if (caption.size() <= 20)
        return none;
    const qsizetype firstDash = caption.indexOf('-');
    if (firstDash < 0)
        return none;

    const QByteArray remainder = caption.mid(firstDash + 1);
    const qsizetype secondDash = remainder.indexOf('-');
    QByteArray tag = secondDash >= 0 ? remainder.mid(secondDash + 1) : remainder;
    if (tag.size() >= 20)
        tag.truncate(16);
    return tag;
}
