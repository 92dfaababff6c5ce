#pragma once

#include "support/ToolRun.h"

#include <functional>
#include <sys/types.h>
#include <string>

namespace TestSupport {

// Root's writes pass every permission check, so a test of what a user may not write runs
// that part as user nobody when the tests run as root (as they do in CI).

// Runs step in a child process as nobody (in this process when not root) and returns what
// the step reported.
std::string asUnprivilegedUser(const std::function<std::string()>& step);
// Runs step in a child process as that user and group, with that group as its only
// supplementary group, and returns what the step reported (" (child failed)" appended when
// the child did not end well). Needs root.
std::string asUser(uid_t uid, gid_t gid, const std::function<std::string()>& step);
// Runs a program as nobody through runuser (directly when not root).
ToolRun runProgramUnprivileged(const QString& program, const QStringList& args, int timeoutMs = 60000);

} // namespace TestSupport
