#pragma once

#include "interchange/CsvReader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// A CSV file whose first record names its columns, as the imports take them: the header
// names only columns the import knows (case aside), none twice, and every one it needs;
// each record after it is as wide as the header. Spreadsheets and editors end the file with
// a blank line: blank lines at the end are no records, one followed by more records is a
// malformed line like any other.
class CsvTable
{
public:
    CsvTable(const QByteArray& csv, qsizetype maxFieldBytes);

    // Reads the header; false when it is missing or wrong (error() says why, at line()).
    bool readHeader(const QStringList& known, const QStringList& required);
    // Where a known column stands in the records, or -1 when the header lacks it.
    qsizetype position(const QString& column) const;

    // Reads the next record. False at the end, and at a malformed record or one of another
    // width, when error() says what is wrong at line().
    bool next(QStringList& fields);

    // Line, counted from 1, of the record last read or of the fault.
    qsizetype line() const { return m_line; }
    QString error() const { return m_error; }

private:
    bool fail(qsizetype line, const QString& error);

    CsvReader m_reader;
    QStringList m_known;
    std::vector<qsizetype> m_positions;
    qsizetype m_width = 0;
    qsizetype m_line = 0;
    qsizetype m_blankLine = 0;
    QString m_error;
};
