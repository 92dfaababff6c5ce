#include "platform/Gbk.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <memory>
#include <string_view>

namespace {

QByteArray convert(const char* to, const char* from, const QByteArray& input)
{
    if (input.isEmpty())
        return {};
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return input;
    QByteArray out;
    out.resize(input.size() * 4 + 16);
    char* in = const_cast<char*>(input.constData());
    size_t inLeft = size_t(input.size());
    char* dst = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != size_t(-1))
            break;
        if (errno == E2BIG)
            break;
        // A character the target cannot hold becomes "?", as the 8-bit API would write it.
        if (outLeft == 0)
            break;
        *dst++ = '?';
        --outLeft;
        ++in;
        --inLeft;
        while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80 &&
               std::string_view(from) == "UTF-8") {
            ++in;
            --inLeft;
        }
    }
    iconv(cd, nullptr, nullptr, &dst, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - qsizetype(outLeft));
    return out;
}

// The GBK length of each character, learnt from iconv the first time a character is met:
// an export checks every name, and asking iconv each time would cost more than the export.
// A character counts as mapped only when it comes back unchanged from GBK.
class CharacterTable
{
public:
    // 1 or 2 bytes; 0 when GBK lacks the character.
    int length(char32_t c)
    {
        if (c < 0x80)
            return 1;
        if (c > 0xFFFF)
            return lookUp(c);
        std::uint8_t& known = m_lengths[c];
        if (known == kUnknown)
            known = std::uint8_t(lookUp(c));
        return known;
    }

private:
    static constexpr std::uint8_t kUnknown = 0xFF;

    static int lookUp(char32_t c)
    {
        const QString text = QString::fromUcs4(&c, 1);
        const QByteArray bytes = convert("GBK", "UTF-8", text.toUtf8());
        if (bytes.isEmpty() || bytes.size() > 2 || QString::fromUtf8(convert("UTF-8", "GBK", bytes)) != text)
            return 0;
        return int(bytes.size());
    }

    std::array<std::uint8_t, 0x10000> m_lengths = [] {
        std::array<std::uint8_t, 0x10000> lengths;
        lengths.fill(kUnknown);
        return lengths;
    }();
};

CharacterTable& table()
{
    thread_local std::unique_ptr<CharacterTable> t = std::make_unique<CharacterTable>();
    return *t;
}

// Calls visit(index, length) for each character; stops when visit returns false.
template <typename Visit> void forEachCharacter(QStringView text, Visit visit)
{
    CharacterTable& lengths = table();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        const char16_t unit = text[i].unicode();
        if (unit < 0x80) {
            if (!visit(i, 1))
                return;
            ++i;
            continue;
        }
        char32_t c = unit;
        qsizetype units = 1;
        if (QChar::isHighSurrogate(unit) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            c = QChar::surrogateToUcs4(unit, text[i + 1].unicode());
            units = 2;
        } else if (QChar::isSurrogate(unit)) {
            c = 0xFFFFFFFF; // a lone surrogate is no character at all
        }
        if (!visit(i, c == 0xFFFFFFFF ? 0 : lengths.length(c)))
            return;
        i += units;
    }
}

} // namespace

QByteArray Gbk::encode(const QString& text)
{
    return convert("GBK", "UTF-8", text.toUtf8());
}

QByteArray Gbk::encodeUtf8(const QByteArray& utf8)
{
    return convert("GBK", "UTF-8", utf8);
}

QString Gbk::decode(const QByteArray& bytes)
{
    return QString::fromUtf8(convert("UTF-8", "GBK", bytes));
}

qsizetype Gbk::firstUnmappable(QStringView text)
{
    qsizetype found = -1;
    forEachCharacter(text, [&](qsizetype index, int length) {
        if (length > 0)
            return true;
        found = index;
        return false;
    });
    return found;
}

qsizetype Gbk::unmappableCount(QStringView text)
{
    qsizetype count = 0;
    forEachCharacter(text, [&](qsizetype, int length) {
        count += length == 0;
        return true;
    });
    return count;
}

qsizetype Gbk::encodedSize(QStringView text)
{
    qsizetype size = 0;
    forEachCharacter(text, [&](qsizetype, int length) {
        size += length == 0 ? 1 : length;
        return true;
    });
    return size;
}

QString Gbk::codePointName(QStringView text, qsizetype index)
{
    if (index < 0 || index >= text.size())
        return {};
    char32_t c = text[index].unicode();
    if (QChar::isHighSurrogate(c) && index + 1 < text.size() &&
        QChar::isLowSurrogate(text[index + 1].unicode()))
        c = QChar::surrogateToUcs4(char16_t(c), text[index + 1].unicode());
    return QStringLiteral("U+%1").arg(uint(c), 4, 16, QChar(u'0')).toUpper();
}
