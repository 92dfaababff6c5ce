#pragma once

struct sqlite3_vfs;

namespace TestSupport {

// An SQLite VFS wrapped around the default one that fails chosen writes or syncs, the way
// SQLite's own tests simulate a full disk or an I/O error. While the object lives it is
// the default VFS, so every connection opened meanwhile (the code under test included)
// goes through it; disarmed it passes everything on unchanged.
class FaultInjectingVfs
{
public:
    enum class Operation
    {
        Write,
        Sync
    };

    FaultInjectingVfs();
    ~FaultInjectingVfs();
    FaultInjectingVfs(const FaultInjectingVfs&) = delete;
    FaultInjectingVfs& operator=(const FaultInjectingVfs&) = delete;

    // From now on, the n-th call (1-based) of the operation returns resultCode instead of
    // reaching the file; with persistent, so does every later one (a disk that stays full).
    void arm(Operation operation, int n, int resultCode, bool persistent);
    void disarm();

    // Calls of the armed operation since arm(), and how many of them were failed.
    int calls() const;
    int faults() const;

private:
    sqlite3_vfs* m_real = nullptr;
};

} // namespace TestSupport
