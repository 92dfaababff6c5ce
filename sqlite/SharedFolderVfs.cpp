#include "sqlite/SharedFolderVfs.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sqlite3.h>
#include <unistd.h>

namespace {

constexpr const char* kName = "tavelo-shared-folder";

sqlite3_vfs g_vfs;
sqlite3_vfs* g_default = nullptr;

bool isJournal(const char* path)
{
    const size_t length = std::strlen(path);
    constexpr size_t suffix = sizeof("-journal") - 1;
    return length > suffix && std::strcmp(path + length - suffix, "-journal") == 0;
}

int deleteOrEmpty(sqlite3_vfs*, const char* path, int syncDir)
{
    const int rc = g_default->xDelete(g_default, path, syncDir);
    if (rc == SQLITE_OK || !isJournal(path))
        return rc;
    // Refused (the sticky folder): empty it, without following a link put in its place.
    const int fd = ::open(path, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return rc;
    const bool emptied = ::ftruncate(fd, 0) == 0 && ::fsync(fd) == 0;
    ::close(fd);
    return emptied ? SQLITE_OK : rc;
}

} // namespace

const char* SharedFolderVfs::name()
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        g_default = sqlite3_vfs_find(nullptr);
        g_vfs = *g_default;
        g_vfs.zName = kName;
        g_vfs.pNext = nullptr;
        g_vfs.xDelete = deleteOrEmpty;
        sqlite3_vfs_register(&g_vfs, 0);
    });
    return kName;
}
