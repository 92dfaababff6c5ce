#include "platform/SpoolFile.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A file in $TMPDIR (where the user keeps room for such files; /tmp when it is not set)
// without a name: unlinked at once, so that nothing is left behind after a crash.
// $TMPDIR is read as it stands: QDir::tempPath() makes a folder that does not exist into
// an empty path, which would put the spool in the root folder.
std::FILE* openAnonymous(QString& error)
{
    QString folderName = qEnvironmentVariable("TMPDIR");
    if (folderName.isEmpty())
        folderName = QStringLiteral("/tmp");
    const QByteArray folder = QFile::encodeName(folderName);
    QByteArray pattern = folder + "/kqdb-spool-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("cannot make a temporary file in %1: %2")
                    .arg(folderName, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    ::unlink(pattern.constData());
    std::FILE* file = ::fdopen(fd, "w+b");
    if (!file) {
        error = QStringLiteral("cannot make a temporary file: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
    }
    return file;
}

} // namespace

SpoolFile::~SpoolFile()
{
    if (m_file)
        std::fclose(m_file);
}

bool SpoolFile::append(const QByteArray& bytes)
{
    if (!m_error.isEmpty())
        return false;
    if (!m_file && m_memory.size() + bytes.size() <= kMemoryBytes) {
        m_memory += bytes;
        return true;
    }
    if (!m_file) {
        m_file = openAnonymous(m_error);
        if (!m_file)
            return false;
        if (std::fwrite(m_memory.constData(), 1, size_t(m_memory.size()), m_file) !=
            size_t(m_memory.size())) {
            m_error = QStringLiteral("cannot write the temporary file: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        m_memory.clear();
    }
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_file) != size_t(bytes.size())) {
        m_error = QStringLiteral("cannot write the temporary file: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

bool SpoolFile::copyTo(std::FILE* out)
{
    if (!m_file)
        return std::fwrite(m_memory.constData(), 1, size_t(m_memory.size()), out) == size_t(m_memory.size());
    if (std::fflush(m_file) != 0 || std::fseek(m_file, 0, SEEK_SET) != 0) {
        m_error = QStringLiteral("cannot read the temporary file back: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    char buffer[64 * 1024];
    for (;;) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, m_file);
        if (got > 0 && std::fwrite(buffer, 1, got, out) != got)
            return false;
        if (got < sizeof buffer) {
            if (std::ferror(m_file)) {
                m_error = QStringLiteral("cannot read the temporary file back");
                return false;
            }
            return true;
        }
    }
}
