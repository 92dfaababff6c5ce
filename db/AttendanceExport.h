#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

#include <functional>

class AdoConnection;

// Writes the attendance records (table sgdjb) as CSV for payroll: the header
// num,name,date,time and one record per swipe, as 0101,张伟,2026-12-07,08:52:11, ordered by
// the instant of the swipe, then by number.
class AttendanceExport
{
public:
    enum class Encoding
    {
        Utf8,
        // For spreadsheet programs set to the Chinese code page.
        Gbk
    };

    struct Filter
    {
        // Both dates inclusive; an invalid date leaves that end open.
        QDate from;
        QDate to;
        // Only this employee number, when not empty.
        QString num;
    };

    // Receives the output in pieces, each ending at the end of a record.
    using Sink = std::function<void(const QByteArray& bytes)>;
    using Progress = std::function<void(qint64 done)>;

    // The number of records the filter selects.
    static qint64 count(AdoConnection& connection, const Filter& filter);
    // Writes the CSV to the sink; returns the number of records written.
    static qint64 run(AdoConnection& connection, const Filter& filter, Encoding encoding, const Sink& sink,
                      const Progress& progress = {});
};
