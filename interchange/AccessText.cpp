#include "interchange/AccessText.h"

#include <cstring>

namespace {

char16_t unit(const char* p)
{
    return char16_t(std::uint8_t(p[0]) | (std::uint8_t(p[1]) << 8));
}

} // namespace

std::optional<QString> AccessText::decode(const char* bytes, qsizetype size)
{
    if (size >= 2 && std::uint8_t(bytes[0]) == 0xff && std::uint8_t(bytes[1]) == 0xfe) {
        QString text;
        text.reserve(size - 2);
        bool compressed = true;
        qsizetype i = 2;
        while (i < size) {
            if (bytes[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                text.append(QChar(char16_t(std::uint8_t(bytes[i]))));
                ++i;
            } else {
                if (size - i < 2)
                    return std::nullopt;
                text.append(QChar(unit(bytes + i)));
                i += 2;
            }
        }
        return text;
    }
    if (size % 2 != 0)
        return std::nullopt;
    QString text(size / 2, Qt::Uninitialized);
    // Copied bytewise: the bytes need not be aligned for char16_t, and the files are
    // little-endian like the machines this runs on.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    if (size > 0)
        std::memcpy(text.data(), bytes, std::size_t(size));
    return text;
}
