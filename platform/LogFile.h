#pragma once

#include <QByteArray>
#include <QString>

// A text file that lines are appended to by one writer at a time. Every failed step
// throws FileError with the system's error code of that step; the file is closed
// whichever way the object goes.
class LogFile
{
public:
    // Creates an empty file when there is none. A folder of that name is no file, so
    // creation is tried and fails. Failures are not thrown here but show when the file is
    // opened; the system's code of a failed creation is returned (0 otherwise) so that
    // the open can name the real cause.
    static int createIfMissing(const QString& path);

    // Opens the existing file for appending and locks it against other writers; fails at
    // once when another writer holds it. Readers are not kept out. When there is no file
    // to open because creating it failed with creationError, that is the error reported:
    // a folder without write permission is not "no such file".
    explicit LogFile(const QString& path, int creationError = 0);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Cuts the file at the first end-of-file mark (byte 26) within its last 128 bytes,
    // with everything after it, so that the text appended next takes the mark's place.
    void cutEndOfFileMark();

    void write(const QByteArray& bytes);

    // Closes the file, releasing the lock, and reports a failure to do so. The destructor
    // closes a file still open without reporting.
    void close();

private:
    int m_fd = -1;
};
