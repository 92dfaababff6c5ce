#include "platform/CsvWriter.h"

QString CsvWriter::field(const QString& text)
{
    // A leading byte order mark is quoted too: at the start of a file a reader would skip it.
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\r') ||
                       text.contains(u'\n') || text.startsWith(QChar(0xFEFF));
    if (!quote)
        return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString CsvWriter::record(const QStringList& fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += u',';
        line += field(fields.at(i));
    }
    line += QStringLiteral("\r\n");
    return line;
}
