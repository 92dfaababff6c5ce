#include "platform/Sha256.h"

#include <QCryptographicHash>

#include <openssl/evp.h>

#include <cstring>

Sha256::Sha256() = default;

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context);
    EVP_MD_free(m_md);
}

Sha256::Digest Sha256::digest(QByteArrayView data)
{
    Digest result{};
    if (m_digests < kBeforeLibcrypto) {
        ++m_digests;
    } else {
        if (!m_started) {
            m_started = true;
            m_md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
            m_context = EVP_MD_CTX_new();
        }
        unsigned int length = 0;
        if (m_md && m_context && EVP_DigestInit_ex(m_context, m_md, nullptr) == 1 &&
            EVP_DigestUpdate(m_context, data.data(), size_t(data.size())) == 1 &&
            EVP_DigestFinal_ex(m_context, result.data(), &length) == 1 && length == result.size())
            return result;
    }
    // The first digests, or a libcrypto without the algorithm (a restricted provider
    // configuration): Qt's own.
    const QByteArray sum = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
    std::memcpy(result.data(), sum.constData(), result.size());
    return result;
}
