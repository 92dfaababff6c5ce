#pragma once

#include "interchange/CsvWriter.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <functional>

class AdoConnection;

// Writes the attendance records (table sgdjb) as CSV for payroll: the header
// num,name,date,time and one record per swipe, as 0101,张伟,2026-12-07,08:52:11, ordered by
// the instant of the swipe, then by number. Records pass through one at a time, from a
// file as from a server, so that memory stays flat however many there are.
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

    struct Options
    {
        Encoding encoding = Encoding::Utf8;
        // Text by default: payroll opens the file in a spreadsheet.
        CsvWriter::Cells cells = CsvWriter::Cells::Text;
        // With GBK: a character GBK lacks becomes "?" and is counted, instead of refusing
        // the export.
        bool replaceUnmappable = false;
    };

    struct Result
    {
        bool ok = false;
        qint64 records = 0;
        // Characters written as "?" (replaceUnmappable).
        qint64 replaced = 0;
        // Why the export stopped, when not ok: what was handed to the sink is incomplete.
        QString error;
    };

    // Receives the output in pieces, each ending at the end of a record.
    using Sink = std::function<void(const QByteArray& bytes)>;
    using Progress = std::function<void(qint64 done)>;

    // The number of records the filter selects.
    static qint64 count(AdoConnection& connection, const Filter& filter);
    // Writes the CSV to the sink. Database failures throw as the connection's do; a value
    // GBK cannot hold (without replaceUnmappable) ends the export with ok false.
    static Result run(AdoConnection& connection, const Filter& filter, const Options& options,
                      const Sink& sink, const Progress& progress = {});
};
