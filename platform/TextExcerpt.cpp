#include "platform/TextExcerpt.h"

bool TextExcerpt::isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

QString TextExcerpt::quoted(QStringView text)
{
    QString out = QStringLiteral("\"");
    qsizetype shown = 0;
    qsizetype i = 0;
    for (; i < text.size() && shown < kMaxCharacters; ++i, ++shown) {
        const QChar c = text[i];
        if (c.unicode() < 0x80 && isControl(c.unicode()))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0')).toUpper().replace(u'X', u'x');
        else if (isControl(c.unicode()))
            out += QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QChar(u'0')).toUpper();
        else if (c == u'\\')
            out += QStringLiteral("\\\\");
        else
            out += c;
        // A surrogate pair is one character.
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            out += text[++i];
    }
    out += u'"';
    if (i < text.size())
        out += QStringLiteral("...");
    return out;
}
