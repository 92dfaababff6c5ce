// The search-key cut: at most six GBK bytes, never half a character, and always the
// beginning of the trimmed text as the code page writes it.

#include "FuzzCheck.h"

#include "platform/Gbk.h"
#include "platform/SearchKey.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    // Both ways in: text typed as Unicode, and bytes as a GBK file would hold them.
    for (const QString& text : {QString::fromUtf8(input), Gbk::decode(input)}) {
        const QString key = SearchKey::fromText(text);
        const QByteArray keyBytes = Gbk::encode(key);
        FUZZ_CHECK(keyBytes.size() <= SearchKey::kMaxBytes);
        QByteArray all = Gbk::encode(text);
        while (!all.isEmpty() && static_cast<unsigned char>(all.front()) <= 32)
            all.remove(0, 1);
        FUZZ_CHECK(all.startsWith(keyBytes));
        FUZZ_CHECK(keyBytes.isEmpty() || static_cast<unsigned char>(keyBytes.front()) > 32);
    }
    return 0;
}
