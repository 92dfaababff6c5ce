#pragma once

#include <QString>

#include <optional>

// Jet 4 text values: UTF-16LE, or, when they start with the bytes FF FE, compressed:
// runs of one byte per character (U+0001..U+00FF) alternating with runs of UTF-16LE, a
// zero byte switching from one kind of run to the other.
class AccessText
{
public:
    // nullopt when the bytes are no valid text of either form.
    static std::optional<QString> decode(const char* bytes, qsizetype size);
};
