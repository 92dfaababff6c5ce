#pragma once

#include <QString>
#include <QStringList>

// Writes CSV records as RFC 4180 has them: fields joined by commas, each record ended by
// CR LF, and a field that holds a comma, a double quote or a line break put in double
// quotes with its quotes doubled (so is one that starts with a byte order mark).
class CsvWriter
{
public:
    static QString field(const QString& text);
    static QString record(const QStringList& fields);
};
