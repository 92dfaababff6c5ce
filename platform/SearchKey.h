#pragma once

#include <QString>

// The number box's text as the key the list is searched with: blanks and control bytes
// trimmed at both ends, then at most kMaxBytes bytes of its GBK form. A double-byte
// character the limit would cut in half is left out rather than turned into a stray byte.
class SearchKey
{
public:
    static constexpr int kMaxBytes = 6;

    static QString fromText(const QString& text);
};
