#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

// Output gathered while a database is being read and handed on only once the read has
// ended: a reader whose output blocks (a pipe nobody reads, a slow share) then holds no
// lock on the file that a swipe would wait for. Small output stays in memory; past a
// bound it goes to an anonymous temporary file in $TMPDIR, removed when the object goes.
class SpoolFile
{
public:
    SpoolFile() = default;
    ~SpoolFile();
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    // False when the temporary file could not be made or written; then error() says why.
    bool append(const QByteArray& bytes);
    // Writes everything gathered to out, in order. False when a write fails.
    bool copyTo(std::FILE* out);
    QString error() const { return m_error; }

    static constexpr qsizetype kMemoryBytes = 4 * 1024 * 1024;

private:
    QByteArray m_memory;
    std::FILE* m_file = nullptr;
    QString m_error;
};
