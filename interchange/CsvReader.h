#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Reads CSV as RFC 4180 has it, from UTF-8 bytes held in memory: fields separated by
// commas, records ended by CR LF (a lone LF or CR is taken as well), a field in double
// quotes may hold commas, line breaks and doubled quotes. A UTF-8 byte order mark at the
// start is skipped, as spreadsheet programs write one.
//
// Strict where a lenient reader would guess: a quote inside an unquoted field, text after
// a closing quote, a quoted field never closed, and bytes that are not UTF-8 are errors,
// so that a damaged file is refused rather than read wrongly.
class CsvReader
{
public:
    // A field of more than maxFieldBytes bytes (0: no bound) is an error that quotes only
    // the field's start.
    explicit CsvReader(QByteArray data, qsizetype maxFieldBytes = 0);

    // Reads the next record. False at the end of the data or at a malformed record; error()
    // is empty at the end and says what is wrong otherwise. After an error it stays false.
    bool next(QStringList& fields);

    // Line, counted from 1, on which the record last read (or the malformed one) starts.
    qsizetype line() const { return m_recordLine; }
    QString error() const { return m_error; }

private:
    bool fail(const QString& message);
    bool endField(QByteArray& field, QStringList& fields);
    // Consumes a line break at the read position, if there is one.
    bool skipLineBreak();

    QByteArray m_data;
    qsizetype m_maxFieldBytes = 0;
    qsizetype m_pos = 0;
    qsizetype m_line = 1;
    qsizetype m_recordLine = 0;
    QString m_error;
    bool m_failed = false;
};
