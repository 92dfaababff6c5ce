#pragma once

#include <QString>

#include <functional>

class AccessSource;
class AdoConnection;

// Brings the employee list (employ) and the attendance records (sgdjb) of an Access
// attendance database over into an open database, file or server alike, in one
// transaction: any refusal or failure rolls back and leaves the target as it was.
//
// Dates and times arrive as raw date serials and are written in the target's own form, as
// the terminal writes its swipes: D a date, T a time of day, opdate a date. A value that
// is not what its column holds is refused with its table, row and column; nothing is
// guessed. Texts are held to the rules every import keeps (ColumnRules) and to the widths
// the target's columns declare, in a file as on a server, before they are written.
class AccessImport
{
public:
    struct Options
    {
        // Only the employee list; sgdjb is not read.
        bool employeesOnly = false;
        // Employees whose number the target has, and sgdjb rows it holds already (same
        // number, same instant D + T), are skipped, so that running twice adds nothing.
        // Without it such an employee is refused and every sgdjb row is appended. The
        // target is asked batch by batch, never held in memory whole.
        bool skipExisting = false;
    };

    struct Result
    {
        bool ok = false;
        QString error;
        // The refusal is an employee number the target has already (skipExisting would
        // have skipped it).
        bool employeeExists = false;
        qint64 employeesRead = 0;
        qint64 employeesWritten = 0;
        qint64 employeesSkipped = 0;
        qint64 attendanceRead = 0;
        qint64 attendanceWritten = 0;
        qint64 attendanceSkipped = 0;
    };

    // Called with the number of source rows handled so far and the number to handle.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    // Never throws for a refusal, a damaged source or a database failure: the result
    // says what went wrong, and the target is unchanged.
    static Result run(AccessSource& source, AdoConnection& target, const Options& options,
                      const Progress& progress = {});

    // Rows sent to the database in one INSERT statement.
    static constexpr int kRowsPerStatement = 200;
};
