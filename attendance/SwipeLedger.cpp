#include "attendance/SwipeLedger.h"

#include "platform/DatabaseError.h"
#include "query/DateTimeValue.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFields = 10;

QByteArray escaped(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescaped(const QByteArray& text)
{
    // Most texts hold nothing escaped: every line of the record is read at each check.
    if (text.isEmpty())
        return QString();
    if (!text.contains('\\'))
        return QString::fromUtf8(text);
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return QString::fromUtf8(out);
}

QByteArray checkOf(const QByteArray& body)
{
    return QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex().left(16);
}

QString systemError(const QString& what, const QString& path)
{
    return QStringLiteral("%1 '%2': %3.").arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

void syncFolder(const QString& path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool sameFile(int fd, const QString& path)
{
    struct stat open;
    struct stat named;
    return ::fstat(fd, &open) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool writeAll(int fd, const QByteArray& data)
{
    qsizetype written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + written, size_t(data.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

} // namespace

SwipeLedger::SwipeLedger(QString path) : m_path(std::move(path)) {}

QString SwipeLedger::pathFor(const QString& storePath)
{
    return storePath + QStringLiteral(".ledger");
}

SwipeLedger::Key SwipeLedger::keyOf(const StoredSwipe& swipe)
{
    return {swipe.num, DateTimeValue::fromDateTime(swipe.instant()).seconds()};
}

QByteArray SwipeLedger::line(const Entry& entry)
{
    const StoredSwipe& swipe = entry.swipe;
    QByteArray body;
    body += char(entry.state);
    body += '\t' + escaped(swipe.num);
    body += '\t' + QByteArray::number(DateTimeValue::fromDateTime(swipe.instant()).seconds());
    body += '\t' + escaped(swipe.name);
    body += '\t' + QByteArray::number(DateTimeValue::fromDate(swipe.date).seconds());
    body += '\t' + QByteArray::number(DateTimeValue::fromTime(swipe.time).seconds());
    body += '\t' + escaped(swipe.opdate);
    body += '\t' + escaped(entry.server);
    body += '\t' + QByteArray::number(entry.confirmedAt);
    return body + '\t' + checkOf(body) + '\n';
}

void SwipeLedger::append(const std::vector<Entry>& entries) const
{
    if (entries.empty())
        return;
    QByteArray data;
    for (const Entry& entry : entries)
        data += line(entry);
    const QByteArray name = QFile::encodeName(m_path);
    // A rewrite renames a new file over the name: an append that raced it goes to the new one.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            throw DatabaseError(systemError(QStringLiteral("Cannot open the swipe record"), m_path));
        if (::flock(fd, LOCK_SH) != 0 || !sameFile(fd, m_path)) {
            ::close(fd);
            continue;
        }
        struct stat st;
        const bool made = ::fstat(fd, &st) == 0 && st.st_size == 0;
        const bool ok = writeAll(fd, data) && ::fdatasync(fd) == 0;
        const QString failure =
            ok ? QString() : systemError(QStringLiteral("Cannot write the swipe record"), m_path);
        ::close(fd);
        if (!ok)
            throw DatabaseError(failure);
        if (made)
            syncFolder(m_path);
        return;
    }
    throw DatabaseError(
        QStringLiteral("The swipe record '%1' kept being replaced while it was written.").arg(m_path));
}

SwipeLedger::Contents SwipeLedger::read() const
{
    Contents contents;
    QFile file(m_path);
    if (QFileInfo(m_path).isSymLink() || !file.open(QIODevice::ReadOnly))
        return contents;
    const QByteArray data = file.readAll();
    qsizetype at = 0;
    while (at < data.size()) {
        const qsizetype end = data.indexOf('\n', at);
        if (end < 0)
            break; // torn by a crash in the middle of an append: never acknowledged
        const QByteArray text = data.mid(at, end - at);
        at = end + 1;
        ++contents.lines;
        const QList<QByteArray> fields = text.split('\t');
        const qsizetype bodyEnd = text.lastIndexOf('\t');
        if (fields.size() != kFields || bodyEnd < 0 || checkOf(text.left(bodyEnd)) != fields.last() ||
            fields[0].size() != 1) {
            ++contents.damagedLines;
            continue;
        }
        Entry entry;
        const char state = fields[0][0];
        if (state != char(State::Waiting) && state != char(State::Confirmed) && state != char(State::Gone)) {
            ++contents.damagedLines;
            continue;
        }
        entry.state = State(state);
        entry.swipe.num = unescaped(fields[1]);
        entry.swipe.name = unescaped(fields[3]);
        entry.swipe.date = DateTimeValue(fields[4].toLongLong()).toDateTime().date();
        entry.swipe.time = QTime(0, 0).addSecs(int(fields[5].toLongLong()));
        entry.swipe.opdate = unescaped(fields[6]);
        entry.server = unescaped(fields[7]);
        entry.confirmedAt = fields[8].toLongLong();
        const Key key{entry.swipe.num, fields[2].toLongLong()};
        if (entry.state == State::Gone)
            contents.live.erase(key);
        else
            contents.live[key] = entry;
    }
    return contents;
}

void SwipeLedger::rewrite(const std::vector<Entry>& live) const
{
    const QByteArray name = QFile::encodeName(m_path);
    const QByteArray fresh = QFile::encodeName(m_path + QStringLiteral(".new"));
    // Appends wait for the lock, then find the name leading to the new file.
    const int current = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (current >= 0)
        ::flock(current, LOCK_EX);
    QByteArray data;
    for (const Entry& entry : live)
        data += line(entry);
    ::unlink(fresh.constData());
    const int fd = ::open(fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && writeAll(fd, data) && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    ok = ok && ::rename(fresh.constData(), name.constData()) == 0;
    const QString failure =
        ok ? QString() : systemError(QStringLiteral("Cannot rewrite the swipe record"), m_path);
    if (current >= 0)
        ::close(current);
    if (!ok) {
        ::unlink(fresh.constData());
        throw DatabaseError(failure);
    }
    syncFolder(m_path);
}

QString SwipeLedger::moveAside() const
{
    QString aside = m_path + QStringLiteral(".damaged");
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = m_path + QStringLiteral(".damaged.%1").arg(n);
    if (::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(aside).constData()) != 0)
        throw DatabaseError(
            systemError(QStringLiteral("Cannot move the damaged swipe record aside"), m_path));
    syncFolder(m_path);
    return aside;
}
