#include "interchange/AccessFileHeader.h"

#include "platform/AccessFileError.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <cstdint>
#include <utility>

namespace {

constexpr int kProductOffset = 4;
constexpr int kVersionOffset = 0x14;
// From here on the header is masked with an RC4 key stream whose key every Jet 4 file
// shares; the database key (non-zero when the pages are encrypted) lies inside it.
constexpr int kMaskedOffset = 0x18;
constexpr int kMaskedLength = 126;
constexpr std::array<std::uint8_t, 4> kHeaderKey = {0xc7, 0xda, 0x39, 0x6b};
constexpr int kDatabaseKeyOffset = 0x3e;

enum Version : std::uint8_t
{
    Jet3 = 0,
    Jet4 = 1,
    LastAce = 6,
};

QByteArray unmasked(const QByteArray& firstPage)
{
    QByteArray bytes = firstPage.mid(kMaskedOffset, kMaskedLength);
    std::array<std::uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i)
        s[std::size_t(i)] = std::uint8_t(i);
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        j = std::uint8_t(j + s[i] + kHeaderKey[i % kHeaderKey.size()]);
        std::swap(s[i], s[j]);
    }
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    for (char& c : bytes) {
        a = std::uint8_t(a + 1);
        b = std::uint8_t(b + s[a]);
        std::swap(s[a], s[b]);
        c = char(std::uint8_t(c) ^ s[std::uint8_t(s[a] + s[b])]);
    }
    return bytes;
}

std::uint32_t littleEndian32(const QByteArray& bytes, int offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | std::uint8_t(bytes[offset + i]);
    return value;
}

QString wholePages(qint64 fileLength, qint64 pageSize)
{
    return QStringLiteral("it is damaged: its length, %1 bytes, is not a whole number of %2-byte pages "
                          "(was the copy cut short?)")
        .arg(fileLength)
        .arg(pageSize);
}

} // namespace

QString AccessFileHeader::refusal(const QByteArray& firstPage, qint64 fileLength)
{
    const QByteArray product = firstPage.mid(kProductOffset, 16);
    const bool jet = product == QByteArray("Standard Jet DB\0", 16);
    const bool ace = product == QByteArray("Standard ACE DB\0", 16);
    if (!firstPage.startsWith(QByteArray("\0\1\0\0", 4)) || (!jet && !ace) ||
        firstPage.size() <= kVersionOffset) {
        if (firstPage.startsWith(QByteArray("SQLite format 3\0", 16)))
            return QStringLiteral("it is not an Access database but an SQLite database (is it already a "
                                  "converted one?)");
        return QStringLiteral("it is not an Access database");
    }
    const auto version = std::uint8_t(firstPage[kVersionOffset]);
    if (version == Jet3 && jet)
        return QStringLiteral("it is an Access 97 (Jet 3) database, and only Access 2000 and 2002-2003 "
                              "(Jet 4) databases can be read; convert it in Access (Tools > Database "
                              "Utilities > Convert Database > To Access 2000 File Format) and import the "
                              "converted copy");
    if (ace || (version > Jet4 && version <= LastAce))
        return QStringLiteral("it is an Access 2007 or later (ACE, .accdb) database, and only Access 2000 "
                              "and 2002-2003 (Jet 4) databases can be read; save it in Access as an Access "
                              "2002-2003 database (File > Save As > Access 2002-2003 Database (*.mdb)) and "
                              "import that copy");
    if (version != Jet4)
        return QStringLiteral("it is an Access database of an unknown version (version byte %1)")
            .arg(version);
    if (fileLength % kJet4PageSize != 0 || firstPage.size() < kJet4PageSize)
        return wholePages(fileLength, kJet4PageSize);
    if (fileLength == kJet4PageSize)
        return QStringLiteral("it is damaged: it ends after its first page");
    if (littleEndian32(unmasked(firstPage), kDatabaseKeyOffset - kMaskedOffset) != 0)
        return QStringLiteral("it is encrypted; decrypt it in Access (Tools > Security > Encrypt/Decrypt "
                              "Database) and import the decrypted copy");
    return {};
}

void AccessFileHeader::vet(const QString& path)
{
    const auto fail = [&path](const QString& cause) {
        throw AccessFileError(QStringLiteral("Cannot read Access file '%1': %2.").arg(path, cause));
    };
    const QFileInfo info(path);
    // Worded as a missing database file is, so that kqdb says it one way.
    if (!info.exists())
        throw AccessFileError(QStringLiteral("Could not find file '%1'.").arg(path));
    if (info.isDir())
        fail(QStringLiteral("it is a folder, not a file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(file.errorString());
    const QByteArray firstPage = file.read(kJet4PageSize);
    const QString cause = refusal(firstPage, file.size());
    if (!cause.isEmpty())
        fail(cause);
}
