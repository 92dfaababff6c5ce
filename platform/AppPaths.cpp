#include "platform/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <cerrno>
#include <sys/stat.h>
#endif

QString AppPaths::executableDir()
{
    QString dir;
    if (QCoreApplication::instance())
        dir = QCoreApplication::applicationDirPath();
    else
        dir = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

QString AppPaths::stateDir()
{
#ifdef Q_OS_WIN
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    // XDG says a relative value is invalid and must be ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
#endif
    return base + QStringLiteral("/tavelo/");
}

QString AppPaths::defaultLogFilePath()
{
    return stateDir() + QStringLiteral("error.log");
}

bool AppPaths::createParentFolder(const QString& filePath)
{
    const QString folder = QFileInfo(filePath).absolutePath();
#ifdef Q_OS_WIN
    return QDir().mkpath(folder);
#else
    // Each folder made here is its owner's alone whatever the umask: the state folder holds
    // the error log and the local stores, with employee names and swipes.
    QStringList missing;
    for (QString at = folder; !QFileInfo::exists(at) && !QFileInfo(at).isSymLink();
         at = QFileInfo(at).absolutePath()) {
        missing.prepend(at);
        if (QFileInfo(at).isRoot())
            break;
    }
    for (const QString& at : missing) {
        const QByteArray name = QFile::encodeName(at);
        if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        ::chmod(name.constData(), 0700);
    }
    return QFileInfo(folder).isDir();
#endif
}
