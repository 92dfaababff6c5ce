#include "platform/TrustedPath.h"

#include "platform/AccountName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As the kernel bounds the links it follows in one lookup.
constexpr int kMaxLinks = 40;

// The owner's private group: named after the owner and holding nobody else.
bool ownersOwnGroup(const struct stat& st)
{
    const passwd* owner = getpwuid(st.st_uid);
    const group* g = getgrgid(st.st_gid);
    if (!owner || !g || std::strcmp(owner->pw_name, g->gr_name) != 0)
        return false;
    for (char** member = g->gr_mem; member && *member; ++member)
        if (std::strcmp(*member, owner->pw_name) != 0)
            return false;
    return true;
}

bool groupMayWrite(const struct stat& st)
{
    return (st.st_mode & S_IWGRP) && !ownersOwnGroup(st);
}

// Why others than the owner and root may change the folder's entries; empty when they
// may not.
QString openToOthers(const struct stat& st)
{
    if (st.st_mode & S_ISVTX)
        return {};
    if (st.st_mode & S_IWOTH)
        return QStringLiteral("everyone may write to it and it is not sticky");
    if (groupMayWrite(st))
        return QStringLiteral("its group %1 may write to it and it is not sticky")
            .arg(AccountName::group(st.st_gid));
    return {};
}

bool writableByOthers(const struct stat& st)
{
    return (st.st_mode & S_IWOTH) || groupMayWrite(st);
}

QString joined(const QString& folder, const QString& name)
{
    return folder == u"/" ? u'/' + name : folder + u'/' + name;
}

} // namespace

bool TrustedPath::othersMayWrite(const QString& folder)
{
    struct stat st;
    return ::stat(QFile::encodeName(folder).constData(), &st) == 0 && writableByOthers(st);
}

std::optional<QString> TrustedPath::problem(const QString& path)
{
    // The parts still to walk, first one first; the file's own name is the last and is
    // left to the open (a link there is refused where others may write).
    QStringList parts = QDir::cleanPath(QFileInfo(path).absoluteFilePath()).split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return std::nullopt;
    parts.removeLast();
    QString folder = QStringLiteral("/");
    int links = 0;
    while (true) {
        struct stat st;
        if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return std::nullopt;
        if (const QString open = openToOthers(st); !open.isEmpty())
            return QStringLiteral(
                       "the folder '%1' on the way to it may be changed by others than its owner %2 "
                       "and root: %3; move the database to a folder only its owner and root may "
                       "change, or make this one sticky (chmod +t '%1')")
                .arg(folder, AccountName::user(st.st_uid), open);
        if (parts.isEmpty())
            return std::nullopt;
        const QString next = joined(folder, parts.takeFirst());
        struct stat entry;
        if (::lstat(QFile::encodeName(next).constData(), &entry) != 0)
            return std::nullopt;
        if (!S_ISLNK(entry.st_mode)) {
            folder = next;
            continue;
        }
        // In a folder others may write to (sticky, or the walk had stopped), a link is only
        // followed when someone trusted made it.
        if (writableByOthers(st) && entry.st_uid != 0 && entry.st_uid != st.st_uid &&
            entry.st_uid != geteuid())
            return QStringLiteral("'%1' on the way to it is a symbolic link that %2 made in '%3', a folder "
                                  "others may write to; such a link is not followed")
                .arg(next, AccountName::user(entry.st_uid), folder);
        if (++links > kMaxLinks)
            return std::nullopt;
        QByteArray raw(4096, '\0');
        const ssize_t got = ::readlink(QFile::encodeName(next).constData(), raw.data(), size_t(raw.size()));
        if (got <= 0)
            return std::nullopt;
        const QString written = QFile::decodeName(raw.left(got));
        const QString resolved = written.startsWith(u'/') ? written : joined(folder, written);
        // The link's target is walked from the root again, followed by what was left.
        parts = QDir::cleanPath(resolved).split(u'/', Qt::SkipEmptyParts) + parts;
        folder = QStringLiteral("/");
    }
}
