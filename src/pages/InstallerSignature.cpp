#include "InstallerSignature.h"

#include <openssl/evp.h>

#include <memory>

namespace {

const int keyBytes = 32;
const int signatureBytes = 64;

QByteArray publicKey()
{
    static const QByteArray key = QByteArray::fromHex(TAMIX_UPDATE_PUBKEY);
    return key;
}

QByteArray decoded(const QString& base64)
{
    const auto result = QByteArray::fromBase64Encoding(base64.trimmed().toLatin1(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    return result ? *result : QByteArray();
}

} // namespace

bool InstallerSignature::isRequired()
{
    return publicKey().size() == keyBytes;
}

bool InstallerSignature::isWellFormed(const QString& base64)
{
    return decoded(base64).size() == signatureBytes;
}

bool InstallerSignature::verify(const QByteArray& sha256, const QString& base64)
{
    const QByteArray key = publicKey();
    const QByteArray signature = decoded(base64);
    if (key.size() != keyBytes || signature.size() != signatureBytes || sha256.size() != 32) {
        return false;
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key.constData()),
                                    size_t(key.size())),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    if (!pkey || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(
               context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
               size_t(signature.size()), reinterpret_cast<const unsigned char*>(sha256.constData()),
               size_t(sha256.size())) == 1;
}
