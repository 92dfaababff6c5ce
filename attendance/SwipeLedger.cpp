#include "attendance/SwipeLedger.h"

#include "platform/DatabaseError.h"
#include "platform/Sha256.h"
#include "query/DateTimeValue.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFields = 10;

// Appends a text with tabs, line ends and backslashes escaped.
void appendEscaped(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    const auto special = [](char c) { return c == '\\' || c == '\t' || c == '\n' || c == '\r'; };
    // Most texts hold nothing to escape: appended whole.
    if (std::none_of(utf8.cbegin(), utf8.cend(), special)) {
        out += utf8;
        return;
    }
    for (const char c : utf8) {
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
}

void appendNumber(QByteArray& out, qint64 value)
{
    char digits[24];
    const auto written = std::to_chars(std::begin(digits), std::end(digits), value);
    out.append(digits, written.ptr - digits);
}

QString unescaped(QByteArrayView text)
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

// The check of a line's body: the first 16 hex digits of its SHA-256.
class LineCheck
{
public:
    static constexpr int kDigits = 16;
    // Writes the check's digits to `to`.
    void write(QByteArrayView body, char* to)
    {
        static constexpr char kHex[] = "0123456789abcdef";
        const Sha256::Digest sum = m_hash.digest(body);
        for (int i = 0; i < kDigits / 2; ++i) {
            to[2 * i] = kHex[(sum[size_t(i)] >> 4) & 0xf];
            to[2 * i + 1] = kHex[sum[size_t(i)] & 0xf];
        }
    }
    bool holds(QByteArrayView body, QByteArrayView check)
    {
        char digits[kDigits];
        write(body, digits);
        return check == QByteArrayView(digits, kDigits);
    }

private:
    Sha256 m_hash;
};

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

void appendLine(QByteArray& out, const SwipeLedger::Entry& entry, LineCheck& check)
{
    const StoredSwipe& swipe = entry.swipe;
    const qint64 d = DateTimeValue::fromDate(swipe.date).seconds();
    const qint64 t = DateTimeValue::fromTime(swipe.time).seconds();
    const qsizetype start = out.size();
    out += char(entry.state);
    out += '\t';
    appendEscaped(out, swipe.num);
    out += '\t';
    appendNumber(out, d + t);
    out += '\t';
    appendEscaped(out, swipe.name);
    out += '\t';
    appendNumber(out, d);
    out += '\t';
    appendNumber(out, t);
    out += '\t';
    appendEscaped(out, swipe.opdate);
    out += '\t';
    appendEscaped(out, entry.server);
    out += '\t';
    appendNumber(out, entry.confirmedAt);
    const qsizetype bodyEnd = out.size();
    out.resize(bodyEnd + 1 + LineCheck::kDigits + 1);
    char* tail = out.data() + bodyEnd;
    tail[0] = '\t';
    check.write(QByteArrayView(out.constData() + start, bodyEnd - start), tail + 1);
    tail[1 + LineCheck::kDigits] = '\n';
}

QByteArray linesOf(const std::vector<SwipeLedger::Entry>& entries)
{
    LineCheck check;
    QByteArray data;
    // About what a line takes, so that the buffer grows once or twice for a round.
    data.reserve(qsizetype(entries.size()) * 128);
    for (const SwipeLedger::Entry& entry : entries)
        appendLine(data, entry, check);
    return data;
}

} // namespace

SwipeLedger::SwipeLedger(QString path) : m_path(std::move(path)) {}

QString SwipeLedger::pathFor(const QString& storePath)
{
    return storePath + QStringLiteral(".ledger");
}

SwipeLedger::Key SwipeLedger::keyOf(const StoredSwipe& swipe)
{
    return {swipe.num, swipe.instantSeconds()};
}

QByteArray SwipeLedger::line(const Entry& entry)
{
    LineCheck check;
    QByteArray out;
    appendLine(out, entry, check);
    return out;
}

void SwipeLedger::append(const std::vector<Entry>& entries) const
{
    if (entries.empty())
        return;
    const QByteArray data = linesOf(entries);
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
    LineCheck check;
    // Every line is read and checked before each forwarding round: split in place.
    QByteArrayView fields[kFields];
    qsizetype at = 0;
    while (at < data.size()) {
        const qsizetype end = data.indexOf('\n', at);
        if (end < 0)
            break; // torn by a crash in the middle of an append: never acknowledged
        const QByteArrayView text = QByteArrayView(data).sliced(at, end - at);
        at = end + 1;
        ++contents.lines;
        int count = 0;
        qsizetype from = 0;
        for (;;) {
            const qsizetype tab = text.indexOf('\t', from);
            const qsizetype fieldEnd = tab < 0 ? text.size() : tab;
            if (count < kFields)
                fields[count] = text.sliced(from, fieldEnd - from);
            ++count;
            if (tab < 0)
                break;
            from = tab + 1;
        }
        if (count != kFields || fields[0].size() != 1 ||
            !check.holds(text.first(text.size() - fields[kFields - 1].size() - 1), fields[kFields - 1])) {
            ++contents.damagedLines;
            continue;
        }
        const char state = fields[0][0];
        if (state != char(State::Waiting) && state != char(State::Confirmed) && state != char(State::Gone)) {
            ++contents.damagedLines;
            continue;
        }
        const Key key{unescaped(fields[1]), fields[2].toLongLong()};
        if (State(state) == State::Gone) {
            contents.live.erase(key);
            continue;
        }
        Entry& entry = contents.live[key];
        entry.state = State(state);
        entry.swipe.num = key.first;
        entry.swipe.name = unescaped(fields[3]);
        entry.swipe.date = DateTimeValue(fields[4].toLongLong()).date();
        entry.swipe.time = DateTimeValue(fields[5].toLongLong()).timeOfDay();
        entry.swipe.opdate = unescaped(fields[6]);
        entry.server = unescaped(fields[7]);
        entry.confirmedAt = fields[8].toLongLong();
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
    const QByteArray data = linesOf(live);
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
