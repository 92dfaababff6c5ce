#include "interchange/CsvWriter.h"

namespace {

bool needsQuotes(QStringView text)
{
    // A leading byte order mark is quoted too: at the start of a file a reader would skip it.
    if (text.startsWith(QChar(0xFEFF)))
        return true;
    for (QChar c : text) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n')
            return true;
    }
    return false;
}

} // namespace

bool CsvWriter::looksLikeFormula(QStringView text)
{
    if (text.isEmpty())
        return false;
    switch (text.front().unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r':
        return true;
    default:
        return false;
    }
}

QString CsvWriter::field(const QString& text, Cells cells)
{
    const QString value = cells == Cells::Text && looksLikeFormula(text) ? u'\'' + text : text;
    if (!needsQuotes(value))
        return value;
    return u'"' + QString(value).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString CsvWriter::record(const QStringList& fields, Cells cells)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += u',';
        line += field(fields.at(i), cells);
    }
    line += QStringLiteral("\r\n");
    return line;
}

void CsvWriter::appendField(QByteArray& out, QByteArrayView utf8, Cells cells)
{
    const bool prefix = cells == Cells::Text && !utf8.isEmpty() &&
                        (utf8[0] == '=' || utf8[0] == '+' || utf8[0] == '-' || utf8[0] == '@' ||
                         utf8[0] == '\t' || utf8[0] == '\r');
    bool quote = prefix ? false : utf8.startsWith("\xEF\xBB\xBF");
    for (char c : utf8) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    }
    if (quote)
        out += '"';
    if (prefix)
        out += '\'';
    if (!quote) {
        out += utf8;
        return;
    }
    for (char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}
