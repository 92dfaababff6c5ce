#include "platform/LocaleInfo.h"

#include <QLocale>

QChar LocaleInfo::timeSeparator()
{
    const QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
    bool inQuote = false;
    bool seenField = false;
    for (const QChar c : format) {
        if (c == u'\'') {
            inQuote = !inQuote;
            continue;
        }
        if (inQuote)
            continue;
        if (c == u'h' || c == u'H' || c == u'm') {
            seenField = true;
            continue;
        }
        if (seenField && !c.isLetter() && !c.isSpace())
            return c;
    }
    return u':';
}
