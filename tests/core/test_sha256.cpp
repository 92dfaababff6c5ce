// The check of every line of the record beside the local store: the same digest whichever
// implementation makes it (Qt's for a program's first digests, libcrypto's after), so that
// records written by either read back sound.

#include "platform/Sha256.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <gtest/gtest.h>

namespace {

QByteArray hex(const Sha256::Digest& digest)
{
    return QByteArray(reinterpret_cast<const char*>(digest.data()), qsizetype(digest.size())).toHex();
}

TEST(Sha256, EveryDigestOfALongRunIsTheStandardOne)
{
    Sha256 sha;
    // The standard's own examples, then lines of every length up to two blocks and beyond.
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(hex(sha.digest("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        ASSERT_EQ(hex(sha.digest("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        for (int length = 0; length < 200; ++length) {
            const QByteArray text(length, char('a' + length % 26));
            ASSERT_EQ(hex(sha.digest(text)),
                      QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex())
                << "length " << length << ", round " << round;
        }
    }
}

} // namespace
