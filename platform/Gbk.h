#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// The terminal's 8-bit texts are GBK (a superset of GB2312). Widths and cuts count GBK
// bytes, so texts are converted here, at the edges, and nowhere else.
class Gbk
{
public:
    // A character GBK lacks becomes "?", as the 8-bit API writes it; callers that must
    // not alter a value check it with firstUnmappable() first.
    static QByteArray encode(const QString& text);
    static QString decode(const QByteArray& bytes);
    // encode() for text already in UTF-8.
    static QByteArray encodeUtf8(const QByteArray& utf8);

    // Index (in UTF-16 units) of the first character GBK lacks, or -1 when it has them all.
    static qsizetype firstUnmappable(QStringView text);
    // The number of characters GBK lacks.
    static qsizetype unmappableCount(QStringView text);
    // Bytes of the text in GBK, a character GBK lacks counted as the one "?" it becomes.
    static qsizetype encodedSize(QStringView text);
    // The character at index (a surrogate pair taken whole), as "U+XXXX".
    static QString codePointName(QStringView text, qsizetype index);
};
