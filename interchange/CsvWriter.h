#pragma once

#include <QString>
#include <QStringList>

// Writes CSV records as RFC 4180 has them: fields joined by commas, each record ended by
// CR LF, and a field that holds a comma, a double quote or a line break put in double
// quotes with its quotes doubled (so is one that starts with a byte order mark).
class CsvWriter
{
public:
    enum class Cells
    {
        // For spreadsheets: a cell that starts with a character a spreadsheet takes as the
        // start of a formula (= + - @, a TAB or a CR) gets an apostrophe in front, so that
        // it is shown as the text it is instead of being computed.
        Text,
        // Values untouched, for programs that read the CSV as data.
        Raw
    };

    static QString field(const QString& text, Cells cells = Cells::Raw);
    static QString record(const QStringList& fields, Cells cells = Cells::Raw);
    // Appends a field given in UTF-8 to out as it would be written, in UTF-8: the
    // export's path, which never leaves UTF-8.
    static void appendField(QByteArray& out, QByteArrayView utf8, Cells cells);
    // True when a spreadsheet would take a cell with this text as a formula.
    static bool looksLikeFormula(QStringView text);
};
