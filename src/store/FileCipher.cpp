#include "FileCipher.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>
#include <openssl/evp.h>

#include <memory>

namespace {

const EVP_CIPHER* cipherFor(int keyLength)
{
    switch (keyLength) {
    case 16:
        return EVP_aes_128_ecb();
    case 24:
        return EVP_aes_192_ecb();
    case 32:
        return EVP_aes_256_ecb();
    default:
        return nullptr;
    }
}

struct ContextDeleter
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

qint64 roundedUp(qint64 length)
{
    return (length + FileCipher::blockSize - 1) / FileCipher::blockSize * FileCipher::blockSize;
}

constexpr qint64 chunkSize = 1 << 20; // a multiple of the block size

} // namespace

FileCipher::FileCipher(int keyLength, const unsigned char* keyBytes)
{
    if (cipherFor(keyLength) && keyBytes) {
        key = QByteArray(reinterpret_cast<const char*>(keyBytes), keyLength);
    }
}

FileCipher FileCipher::programCipher()
{
    static const quint32 words[4] = {0x7a3c91e4, 0x5b0d2f68, 0xc4e17a93, 0x2f86d05b};
    unsigned char bytes[16];
    for (int i = 0; i < 4; ++i) {
        qToBigEndian(words[i], bytes + 4 * i);
    }
    return FileCipher(16, bytes);
}

// Processes `length` bytes, a multiple of the block size, from `in` into `out`.
bool FileCipher::process(bool encrypting, const char* in, qint64 length, char* out) const
{
    if (!isValid()) {
        return false;
    }
    std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context ||
        EVP_CipherInit_ex(context.get(), cipherFor(key.size()), nullptr,
                          reinterpret_cast<const unsigned char*>(key.constData()), nullptr,
                          encrypting ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1) {
        return false;
    }
    qint64 done = 0;
    while (done < length) {
        const int step = int(qMin<qint64>(chunkSize, length - done));
        int written = 0;
        if (EVP_CipherUpdate(context.get(), reinterpret_cast<unsigned char*>(out + done), &written,
                             reinterpret_cast<const unsigned char*>(in + done), step) != 1 ||
            written != step) {
            return false;
        }
        done += step;
    }
    return true;
}

// Works in place: pads the buffer with zeros to whole blocks and processes it where it lies, so
// a large record costs no second buffer.
bool FileCipher::processBytes(bool encrypting, QByteArray& bytes) const
{
    bytes.append(int(roundedUp(bytes.size()) - bytes.size()), '\0');
    return process(encrypting, bytes.constData(), bytes.size(), bytes.data());
}

QByteArray FileCipher::encrypt(QByteArray plain) const
{
    return processBytes(true, plain) ? plain : QByteArray();
}

// A tail shorter than a block cannot come from this cipher; it is zero-filled like any last
// block so that nothing read is dropped.
QByteArray FileCipher::decrypt(QByteArray encrypted) const
{
    return processBytes(false, encrypted) ? encrypted : QByteArray();
}

bool FileCipher::processDevice(bool encrypting, QIODevice* in, QIODevice* out) const
{
    if (!isValid() || !in || !out) {
        return false;
    }
    if (!in->isOpen() && !in->open(QIODevice::ReadOnly)) {
        return false;
    }
    if (!out->isOpen() && !out->open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray buffer(int(chunkSize), Qt::Uninitialized);
    QByteArray result(int(chunkSize), Qt::Uninitialized);
    while (!in->atEnd()) {
        // Fill whole chunks, so only the very last block of the input is zero-filled.
        qint64 filled = 0;
        while (filled < chunkSize) {
            const qint64 got = in->read(buffer.data() + filled, chunkSize - filled);
            if (got < 0) {
                return false;
            }
            if (got == 0) {
                break;
            }
            filled += got;
        }
        if (filled == 0) {
            break;
        }
        const qint64 length = roundedUp(filled);
        std::fill(buffer.begin() + int(filled), buffer.begin() + int(length), '\0');
        if (!process(encrypting, buffer.constData(), length, result.data()) ||
            out->write(result.constData(), length) != length) {
            return false;
        }
    }
    return true;
}

bool FileCipher::encryptDevice(QIODevice* in, QIODevice* out) const
{
    return processDevice(true, in, out);
}

bool FileCipher::decryptDevice(QIODevice* in, QIODevice* out) const
{
    return processDevice(false, in, out);
}

bool FileCipher::processFile(bool encrypting, const QString& source,
                             const QString& destination) const
{
    QFile in(source);
    QSaveFile out(destination);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
        return false;
    }
    return processDevice(encrypting, &in, &out) && out.commit();
}

bool FileCipher::encryptFile(const QString& source, const QString& destination) const
{
    return processFile(true, source, destination);
}

bool FileCipher::decryptFile(const QString& source, const QString& destination) const
{
    return processFile(false, source, destination);
}

bool FileCipher::encryptBytes(QByteArray bytes, const QString& destination, QString* error) const
{
    const auto fail = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    if (!isValid()) {
        return fail(QStringLiteral("invalid key"));
    }
    const qint64 expected = roundedUp(bytes.size());
    const QByteArray encrypted = encrypt(std::move(bytes));
    if (encrypted.size() != expected) {
        return fail(QStringLiteral("encryption failed"));
    }
    // An uncommitted QSaveFile removes its temporary file: a failure leaves nothing behind.
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly) || out.write(encrypted) != encrypted.size() ||
        !out.commit()) {
        return fail(out.errorString());
    }
    return true;
}

bool FileCipher::encryptString(const QString& text, const QString& destination) const
{
    return encryptBytes(text.toLatin1(), destination);
}

QByteArray FileCipher::decryptFileToBytes(const QString& source, bool* ok) const
{
    QFile in(source);
    const bool opened = isValid() && in.open(QIODevice::ReadOnly);
    QByteArray plain = opened ? decrypt(in.readAll()) : QByteArray();
    if (ok) {
        *ok = opened && in.error() == QFileDevice::NoError;
    }
    return plain;
}
