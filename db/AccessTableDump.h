#pragma once

// The part of the Access reader that runs in a process of its own: it opens the file
// with libmdb, checks the tables employ and sgdjb, and writes their rows as frames
// (AccessFrame.h) to a pipe. libmdb is C code that may crash or print on a damaged file;
// its process ending unexpectedly harms no one but tells the parent the file is damaged.
class AccessTableDump
{
public:
    // Never returns: ends the process with _exit, status 0 after the last frame.
    [[noreturn]] static void run(const char* path, int fd);
};
