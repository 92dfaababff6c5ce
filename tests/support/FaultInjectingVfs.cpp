#include "support/FaultInjectingVfs.h"

#include <sqlite3.h>

#include <cstring>
#include <stdexcept>

namespace TestSupport {

namespace {

struct FaultState
{
    bool armed = false;
    FaultInjectingVfs::Operation operation = FaultInjectingVfs::Operation::Write;
    int failAt = 0;
    int resultCode = SQLITE_OK;
    bool persistent = false;
    int calls = 0;
    int faults = 0;
};

FaultState g_state;
sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;

// The wrapped file sits right behind our own header in the memory SQLite gives xOpen.
struct ShimFile
{
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* realOf(sqlite3_file* file)
{
    return reinterpret_cast<ShimFile*>(file)->real;
}

// True when this call of the operation is to fail.
bool injectFault(FaultInjectingVfs::Operation operation)
{
    if (!g_state.armed || g_state.operation != operation)
        return false;
    ++g_state.calls;
    const bool fail =
        g_state.calls == g_state.failAt || (g_state.persistent && g_state.calls > g_state.failAt);
    if (fail)
        ++g_state.faults;
    return fail;
}

int shimClose(sqlite3_file* f)
{
    return realOf(f)->pMethods->xClose(realOf(f));
}
int shimRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset)
{
    return realOf(f)->pMethods->xRead(realOf(f), buffer, amount, offset);
}
int shimWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset)
{
    if (injectFault(FaultInjectingVfs::Operation::Write))
        return g_state.resultCode;
    return realOf(f)->pMethods->xWrite(realOf(f), buffer, amount, offset);
}
int shimTruncate(sqlite3_file* f, sqlite3_int64 size)
{
    return realOf(f)->pMethods->xTruncate(realOf(f), size);
}
int shimSync(sqlite3_file* f, int flags)
{
    if (injectFault(FaultInjectingVfs::Operation::Sync))
        return g_state.resultCode;
    return realOf(f)->pMethods->xSync(realOf(f), flags);
}
int shimFileSize(sqlite3_file* f, sqlite3_int64* size)
{
    return realOf(f)->pMethods->xFileSize(realOf(f), size);
}
int shimLock(sqlite3_file* f, int level)
{
    return realOf(f)->pMethods->xLock(realOf(f), level);
}
int shimUnlock(sqlite3_file* f, int level)
{
    return realOf(f)->pMethods->xUnlock(realOf(f), level);
}
int shimCheckReservedLock(sqlite3_file* f, int* out)
{
    return realOf(f)->pMethods->xCheckReservedLock(realOf(f), out);
}
int shimFileControl(sqlite3_file* f, int op, void* arg)
{
    return realOf(f)->pMethods->xFileControl(realOf(f), op, arg);
}
int shimSectorSize(sqlite3_file* f)
{
    return realOf(f)->pMethods->xSectorSize(realOf(f));
}
int shimDeviceCharacteristics(sqlite3_file* f)
{
    return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f));
}
int shimShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out)
{
    return realOf(f)->pMethods->xShmMap(realOf(f), page, size, extend, out);
}
int shimShmLock(sqlite3_file* f, int offset, int n, int flags)
{
    return realOf(f)->pMethods->xShmLock(realOf(f), offset, n, flags);
}
void shimShmBarrier(sqlite3_file* f)
{
    realOf(f)->pMethods->xShmBarrier(realOf(f));
}
int shimShmUnmap(sqlite3_file* f, int deleteFlag)
{
    return realOf(f)->pMethods->xShmUnmap(realOf(f), deleteFlag);
}
int shimFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out)
{
    return realOf(f)->pMethods->xFetch(realOf(f), offset, amount, out);
}
int shimUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* page)
{
    return realOf(f)->pMethods->xUnfetch(realOf(f), offset, page);
}

const sqlite3_io_methods kMethodsV3 = {3,
                                       shimClose,
                                       shimRead,
                                       shimWrite,
                                       shimTruncate,
                                       shimSync,
                                       shimFileSize,
                                       shimLock,
                                       shimUnlock,
                                       shimCheckReservedLock,
                                       shimFileControl,
                                       shimSectorSize,
                                       shimDeviceCharacteristics,
                                       shimShmMap,
                                       shimShmLock,
                                       shimShmBarrier,
                                       shimShmUnmap,
                                       shimFetch,
                                       shimUnfetch};
// Version 1 files (no shared memory, no memory mapping) get a version 1 table, so SQLite
// does not call methods the wrapped file lacks.
constexpr sqlite3_io_methods versionOne(sqlite3_io_methods methods)
{
    methods.iVersion = 1;
    methods.xShmMap = nullptr;
    methods.xShmLock = nullptr;
    methods.xShmBarrier = nullptr;
    methods.xShmUnmap = nullptr;
    methods.xFetch = nullptr;
    methods.xUnfetch = nullptr;
    return methods;
}
const sqlite3_io_methods kMethodsV1 = versionOne(kMethodsV3);

int shimOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    auto* shim = reinterpret_cast<ShimFile*>(file);
    shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
    shim->base.pMethods = nullptr;
    const int rc = g_real->xOpen(g_real, name, shim->real, flags, outFlags);
    if (shim->real->pMethods)
        shim->base.pMethods = shim->real->pMethods->iVersion >= 3 ? &kMethodsV3 : &kMethodsV1;
    return rc;
}

int shimDelete(sqlite3_vfs*, const char* name, int syncDir)
{
    return g_real->xDelete(g_real, name, syncDir);
}
int shimAccess(sqlite3_vfs*, const char* name, int flags, int* out)
{
    return g_real->xAccess(g_real, name, flags, out);
}
int shimFullPathname(sqlite3_vfs*, const char* name, int size, char* out)
{
    return g_real->xFullPathname(g_real, name, size, out);
}
void* shimDlOpen(sqlite3_vfs*, const char* name)
{
    return g_real->xDlOpen(g_real, name);
}
void shimDlError(sqlite3_vfs*, int size, char* out)
{
    g_real->xDlError(g_real, size, out);
}
void (*shimDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void)
{
    return g_real->xDlSym(g_real, handle, symbol);
}
void shimDlClose(sqlite3_vfs*, void* handle)
{
    g_real->xDlClose(g_real, handle);
}
int shimRandomness(sqlite3_vfs*, int size, char* out)
{
    return g_real->xRandomness(g_real, size, out);
}
int shimSleep(sqlite3_vfs*, int microseconds)
{
    return g_real->xSleep(g_real, microseconds);
}
int shimCurrentTime(sqlite3_vfs*, double* out)
{
    return g_real->xCurrentTime(g_real, out);
}
int shimGetLastError(sqlite3_vfs*, int size, char* out)
{
    return g_real->xGetLastError ? g_real->xGetLastError(g_real, size, out) : 0;
}
int shimCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out)
{
    return g_real->xCurrentTimeInt64(g_real, out);
}

} // namespace

FaultInjectingVfs::FaultInjectingVfs()
{
    if (g_real)
        throw std::logic_error("one FaultInjectingVfs at a time");
    sqlite3_initialize();
    m_real = sqlite3_vfs_find(nullptr);
    if (!m_real || m_real->iVersion < 2)
        throw std::runtime_error("no default VFS to wrap");
    g_real = m_real;
    g_state = FaultState{};
    std::memset(&g_vfs, 0, sizeof g_vfs);
    g_vfs.iVersion = 2;
    g_vfs.szOsFile = int(sizeof(ShimFile)) + m_real->szOsFile;
    g_vfs.mxPathname = m_real->mxPathname;
    g_vfs.zName = "tavelo-faults";
    g_vfs.xOpen = shimOpen;
    g_vfs.xDelete = shimDelete;
    g_vfs.xAccess = shimAccess;
    g_vfs.xFullPathname = shimFullPathname;
    g_vfs.xDlOpen = shimDlOpen;
    g_vfs.xDlError = shimDlError;
    g_vfs.xDlSym = shimDlSym;
    g_vfs.xDlClose = shimDlClose;
    g_vfs.xRandomness = shimRandomness;
    g_vfs.xSleep = shimSleep;
    g_vfs.xCurrentTime = shimCurrentTime;
    g_vfs.xGetLastError = shimGetLastError;
    g_vfs.xCurrentTimeInt64 = shimCurrentTimeInt64;
    if (sqlite3_vfs_register(&g_vfs, 1) != SQLITE_OK)
        throw std::runtime_error("cannot register the fault-injecting VFS");
}

FaultInjectingVfs::~FaultInjectingVfs()
{
    sqlite3_vfs_unregister(&g_vfs);
    sqlite3_vfs_register(m_real, 1);
    g_real = nullptr;
    g_state = FaultState{};
}

void FaultInjectingVfs::arm(Operation operation, int n, int resultCode, bool persistent)
{
    g_state = FaultState{true, operation, n, resultCode, persistent, 0, 0};
}

void FaultInjectingVfs::disarm()
{
    g_state.armed = false;
}

int FaultInjectingVfs::calls() const
{
    return g_state.calls;
}

int FaultInjectingVfs::faults() const
{
    return g_state.faults;
}

} // namespace TestSupport
