#pragma once

#include <QByteArrayView>

#include <array>

struct evp_md_st;
struct evp_md_ctx_st;

// SHA-256 through OpenSSL's libcrypto, which the PostgreSQL client library loads in any
// case: several times faster than QCryptographicHash's portable code where the processor
// has SHA instructions, and the record beside the local store checks every one of its lines
// with it at each comparison. Starting libcrypto costs about a millisecond, as much as a
// thousand of Qt's digests: the first few hundred digests are Qt's, so that a short-lived
// program reading a short record (kqdb swipe) never pays it. One object per thread; it is
// reused from digest to digest.
class Sha256
{
public:
    using Digest = std::array<unsigned char, 32>;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    Digest digest(QByteArrayView data);

private:
    static constexpr int kBeforeLibcrypto = 256;
    int m_digests = 0;
    bool m_started = false;
    evp_md_st* m_md = nullptr;
    evp_md_ctx_st* m_context = nullptr;
};
