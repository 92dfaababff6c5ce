// The settings file reader: any bytes parse; a value read as a string was there to read;
// key paths and names match without regard to case; and a plain value written under its
// own header reads back exactly as written.

#include "FuzzCheck.h"

#include "platform/IniFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

const QString kKey = QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Kelvaro");

bool isBlank(QChar c)
{
    return c.unicode() <= u' ';
}

// A value the reader has no reason to decode: no blanks at its ends, not Qt's quoted form,
// not a typed "@..." value, and on one line.
bool isPlain(const QString& value)
{
    if (value.isEmpty() || isBlank(value.front()) || isBlank(value.back()))
        return false;
    if (value.startsWith(u'@') || value.startsWith(u'"') || value.endsWith(u'"'))
        return false;
    return !value.contains(u'\n') && !value.contains(u'\r');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const std::string lineBytes = provider.ConsumeRandomLengthString(200);
    const std::string fileBytes = provider.ConsumeRemainingBytesAsString();

    // Whatever the file holds.
    const IniFile any = IniFile::parse(QByteArray(fileBytes.data(), qsizetype(fileBytes.size())));
    for (const QString& name : {QStringLiteral("mdb"), QStringLiteral("database")}) {
        const std::optional<QString> raw = any.rawValue(kKey, name);
        const std::optional<QString> text = any.stringValue(kKey, name);
        FUZZ_CHECK(raw || !text);
        FUZZ_CHECK(any.rawValue(kKey.toUpper(), name.toUpper()) == raw);
        if (raw) {
            FUZZ_CHECK(any.hasKey(kKey));
            (void)IniFile::decodeString(*raw, false);
            (void)IniFile::decodeString(*raw, true);
        }
    }
    (void)IniFile::normalizedPath(QString::fromUtf8(lineBytes.data(), qsizetype(lineBytes.size())));

    // A folder name written as it is, last in the file, reads back as written.
    const QString value = QString::fromUtf8(lineBytes.data(), qsizetype(lineBytes.size()));
    if (isPlain(value)) {
        const QByteArray file =
            QByteArray(fileBytes.data(), qsizetype(fileBytes.size())) +
            "\n[Software/Microsoft/Windows/CurrentVersion/Kelvaro]\nmdb=" + value.toUtf8() + "\n";
        FUZZ_CHECK(IniFile::parse(file).stringValue(kKey, QStringLiteral("MDB")) == value);
    }
    return 0;
}
