#include "support/Unprivileged.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

namespace TestSupport {

namespace {

constexpr uid_t kNobody = 65534;

} // namespace

std::string asUnprivilegedUser(const std::function<std::string()>& step)
{
    if (geteuid() != 0)
        return step();
    return asUser(kNobody, kNobody, step);
}

std::string asUser(uid_t uid, gid_t gid, const std::function<std::string()>& step)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid < 0)
        return "fork failed";
    if (pid == 0) {
        ::close(fds[0]);
        const gid_t groups[] = {gid};
        const std::string out = setgroups(1, groups) == 0 && setgid(gid) == 0 && setuid(uid) == 0
                                    ? step()
                                    : "cannot drop privileges";
        const ssize_t written = ::write(fds[1], out.data(), out.size());
        _exit(written == ssize_t(out.size()) ? 0 : 1);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, size_t(n));
    ::close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        out += " (child failed)";
    return out;
}

ToolRun runProgramUnprivileged(const QString& program, const QStringList& args, int timeoutMs)
{
    if (geteuid() != 0)
        return runProgram(program, args, timeoutMs);
    // The build folder may sit in a folder only root can enter (a mktemp -d checkout), so
    // nobody runs a copy from a folder anyone may enter.
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QFileInfo(program).fileName());
    if (!copyDir.isValid() || !QFile::copy(program, copy) ||
        !QFile::setPermissions(copyDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                   QFileDevice::ExeOther) ||
        !QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                         QFileDevice::ExeOther))
        return ToolRun{};
    return runProgram(
        QStringLiteral("runuser"),
        QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), copy} + args,
        timeoutMs);
}

} // namespace TestSupport
