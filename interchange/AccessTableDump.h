#pragma once

#include <cstddef>

// The part of the Access reader that runs in a process of its own: it opens the file
// with libmdb, checks the tables employ and sgdjb, and writes their rows as frames
// (AccessFrame.h) to a pipe. libmdb is C code that may crash or print on a damaged file;
// its process ending unexpectedly harms no one but tells the parent the file is damaged.
//
// Damage can also send the library after ever more memory; the process's address space is
// bounded to what it has at the start plus `memoryBudget` bytes, and a file that needs
// more is reported as damaged before an operator's PC runs short.
class AccessTableDump
{
public:
    // Never returns: ends the process with _exit, status 0 after the last frame.
    [[noreturn]] static void run(const char* path, int fd, std::size_t memoryBudget);
};
