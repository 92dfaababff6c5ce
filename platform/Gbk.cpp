#include "platform/Gbk.h"

#include <cerrno>
#include <iconv.h>
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

} // namespace

QByteArray Gbk::encode(const QString& text)
{
    return convert("GBK", "UTF-8", text.toUtf8());
}

QString Gbk::decode(const QByteArray& bytes)
{
    return QString::fromUtf8(convert("UTF-8", "GBK", bytes));
}
