#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class AdoConnection;

// Loads the employee list (table employ) from CSV: UTF-8, a header naming the columns num,
// name and dept_no in any order (dept_no may be left out), one employee per record.
// All or nothing: the file is checked whole, and written in one transaction, so that a
// refused file changes nothing.
class EmployeeImport
{
public:
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
};
