// Encrypts media files in place the way HLS AES-128 wants them: each whole file in CBC mode
// with PKCS#7 padding. ffmpeg refuses to encrypt fMP4 segments itself, so the media build
// uses this for the fMP4 lesson.
#include <QByteArray>
#include <QFile>
#include <QSaveFile>

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

namespace {

struct ContextDeleter
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

bool encrypt(const QByteArray& key, const QByteArray& iv, const QByteArray& plain, QByteArray* out)
{
    std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context ||
        EVP_EncryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.constData()),
                           reinterpret_cast<const unsigned char*>(iv.constData())) != 1) {
        return false;
    }
    out->resize(plain.size() + 16);
    auto* data = reinterpret_cast<unsigned char*>(out->data());
    int written = 0, last = 0;
    if (EVP_EncryptUpdate(context.get(), data, &written,
                          reinterpret_cast<const unsigned char*>(plain.constData()),
                          plain.size()) != 1 ||
        EVP_EncryptFinal_ex(context.get(), data + written, &last) != 1) {
        return false;
    }
    out->resize(written + last);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: tamix-school-encrypt KEY-FILE IV-HEX FILE...\n");
        return 2;
    }
    QFile keyFile(QString::fromLocal8Bit(argv[1]));
    const QByteArray key = keyFile.open(QIODevice::ReadOnly) ? keyFile.readAll() : QByteArray();
    const QByteArray iv = QByteArray::fromHex(argv[2]);
    if (key.size() != 16 || iv.size() != 16) {
        std::fprintf(stderr, "tamix-school-encrypt: need a 16-byte key file and a 16-byte IV\n");
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QFile in(path);
        QByteArray cipher;
        if (!in.open(QIODevice::ReadOnly) || !encrypt(key, iv, in.readAll(), &cipher)) {
            std::fprintf(stderr, "tamix-school-encrypt: cannot encrypt %s\n", argv[i]);
            return 1;
        }
        in.close();
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(cipher) != cipher.size() ||
            !out.commit()) {
            std::fprintf(stderr, "tamix-school-encrypt: cannot write %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
