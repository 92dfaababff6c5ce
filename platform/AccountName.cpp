#include "platform/AccountName.h"

#include <grp.h>
#include <pwd.h>

QString AccountName::user(uid_t uid)
{
    if (const passwd* account = getpwuid(uid))
        return QString::fromLocal8Bit(account->pw_name);
    return QStringLiteral("uid %1").arg(uid);
}

QString AccountName::group(gid_t gid)
{
    if (const struct group* account = getgrgid(gid))
        return QString::fromLocal8Bit(account->gr_name);
    return QString::number(gid);
}
