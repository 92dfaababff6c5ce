// The connection string: any text either parses or is refused with the provider's error,
// and a value read back never holds the separator it was split at unless it was quoted.

#include "FuzzCheck.h"

#include "query/ConnectionString.h"
#include "platform/DatabaseError.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const ConnectionString parts(text);
        for (const char* key : {"Provider", "Data Source", "Mode", "Persist Security Info"}) {
            const QString name = QString::fromLatin1(key);
            const QString value = parts.value(name);
            // A value can only be found under a key the text names.
            FUZZ_CHECK(value.isEmpty() || text.contains(name, Qt::CaseInsensitive));
        }
        // A key that never appears in the text cannot be found in it.
        if (!text.contains(QStringLiteral("NoSuchKey"), Qt::CaseInsensitive))
            FUZZ_CHECK(parts.value(QStringLiteral("NoSuchKey")).isEmpty());
    } catch (const DatabaseError& e) {
        FUZZ_CHECK(!e.message().isEmpty());
    }
    return 0;
}
