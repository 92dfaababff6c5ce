#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class AdoConnection;

// Loads the employee list (table employ) from CSV: UTF-8, a header naming the columns num,
// name and dept_no in any order (dept_no may be left out), one employee per record.
// All or nothing: the file is checked whole, and written in one transaction, so that a
// refused file changes nothing.
//
// Only what the terminal can use gets in: every value keeps the rules of ColumnRules (no
// control characters, GBK only, widths in GBK bytes, numbers of ASCII letters and digits),
// as every import does.
class EmployeeImport
{
public:
    // A field longer than this is no name or number: refused, quoted by its start only.
    static constexpr qsizetype kMaxFieldBytes = 4096;
    // A file longer than this is refused before it is read: millions of employees fit.
    static constexpr qint64 kMaxFileBytes = qint64(256) * 1024 * 1024;

    enum class Mode
    {
        // Every number in the file must be new to the list.
        Add,
        // Numbers already in the list are skipped; the rest are added.
        NewOnly,
        // The file becomes the whole list.
        Replace
    };

    struct Result
    {
        bool ok = false;
        // The line the refusal is about (0 when it concerns the file as a whole).
        qsizetype line = 0;
        QString error;
        qsizetype added = 0;
        qsizetype skipped = 0;
        qsizetype removed = 0;
    };

    // Called with the number of employees written so far and the number to write.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    static Result run(AdoConnection& connection, const QByteArray& csv, Mode mode,
                      const Progress& progress = {});

    // Reads the file to import: a regular file of at most kMaxFileBytes, refused at once
    // when it is anything else (a FIFO, a device such as /dev/zero, a folder). False with
    // the reason in error, naming the file: "Could not find file '…'" for one that is not
    // there, as the database layer words it, else "Cannot read file '…': why".
    static bool readSource(const QString& path, QByteArray& bytes, QString& error);
};
