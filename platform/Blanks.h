#pragma once

#include <QString>

// Blanks as the settings and the connection text treat them: the space and every control
// character (code 32 and below). Anything else, U+00A0 included, is kept.
namespace Blanks {

inline bool isBlank(QChar c)
{
    return c.unicode() <= u' ';
}

inline QString trimmed(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
}

} // namespace Blanks
