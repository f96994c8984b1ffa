#include "MediaCheck.h"

#include <QFile>
#include <openssl/evp.h>

#include <memory>

namespace {

constexpr int packetSize = 188;
constexpr int block = 16;

// Random access to the plain bytes of a file: each CBC block decrypts with the ciphertext
// block before it, so nothing needs to be read from the start.
class PlainReader
{
public:
    PlainReader(QIODevice* file, const QByteArray& key, const QByteArray& iv)
        : file(file), key(key), iv(iv), size(file->size())
    {
    }

    // The plain length (padding removed), or -1 when the file cannot be a whole encryption.
    qint64 plainSize()
    {
        if (key.isEmpty()) {
            return size;
        }
        if (size == 0 || size % block != 0) {
            return -1;
        }
        const QByteArray last = read(size - block, block);
        if (last.size() != block) {
            return -1;
        }
        const int pad = uchar(last.at(block - 1));
        if (pad < 1 || pad > block) {
            return -1;
        }
        for (int i = block - pad; i < block; ++i) {
            if (uchar(last.at(i)) != pad) {
                return -1;
            }
        }
        return size - pad;
    }

    // Plain bytes [offset, offset + length), fewer at the end of the file.
    QByteArray read(qint64 offset, qint64 length)
    {
        if (offset < 0 || length <= 0 || offset >= size) {
            return QByteArray();
        }
        if (key.isEmpty()) {
            if (!file->seek(offset)) {
                return QByteArray();
            }
            return file->read(length);
        }
        const qint64 first = offset / block * block;
        const qint64 end = qMin(size, (offset + length + block - 1) / block * block);
        QByteArray chain;
        if (first == 0) {
            chain = iv;
        } else {
            if (!file->seek(first - block)) {
                return QByteArray();
            }
            chain = file->read(block);
        }
        if (!file->seek(first)) {
            return QByteArray();
        }
        const QByteArray cipher = file->read(end - first);
        if (chain.size() != block || cipher.size() != end - first) {
            return QByteArray();
        }
        QByteArray plain(cipher.size() + block, '\0');
        std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
        int written = 0;
        if (!ctx ||
            EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr,
                               reinterpret_cast<const unsigned char*>(key.constData()),
                               reinterpret_cast<const unsigned char*>(chain.constData())) != 1 ||
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
            EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &written,
                              reinterpret_cast<const unsigned char*>(cipher.constData()),
                              int(cipher.size())) != 1) {
            return QByteArray();
        }
        plain.truncate(written);
        return plain.mid(int(offset - first), int(length));
    }

private:
    QIODevice* file;
    QByteArray key;
    QByteArray iv;
    qint64 size;
};

bool isTransportStream(PlainReader& reader, qint64 plainSize)
{
    if (plainSize < packetSize || plainSize % packetSize != 0) {
        return false;
    }
    const QByteArray head = reader.read(0, 4 * packetSize);
    for (int offset = 0; offset + packetSize <= head.size(); offset += packetSize) {
        if (head.at(offset) != 0x47) {
            return false;
        }
    }
    return reader.read(plainSize - packetSize, 1) == QByteArray(1, 0x47);
}

bool isBoxType(const QByteArray& type)
{
    for (const char c : type) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == ' ')) {
            return false;
        }
    }
    return type.size() == 4;
}

quint64 bigEndian(const QByteArray& bytes, int from, int count)
{
    quint64 value = 0;
    for (int i = from; i < from + count; ++i) {
        value = (value << 8) | uchar(bytes.at(i));
    }
    return value;
}

bool isMp4(PlainReader& reader, qint64 plainSize)
{
    qint64 offset = 0;
    for (int boxes = 0; boxes < 100000 && offset < plainSize; ++boxes) {
        const QByteArray header = reader.read(offset, 16);
        if (header.size() < 8 || !isBoxType(header.mid(4, 4))) {
            return false;
        }
        quint64 size = bigEndian(header, 0, 4);
        if (size == 0) {
            return true; // the last box runs to the end
        }
        if (size == 1) {
            if (header.size() < 16) {
                return false;
            }
            size = bigEndian(header, 8, 8);
        }
        if (size < 8 || size > quint64(plainSize - offset)) {
            return false;
        }
        offset += qint64(size);
    }
    return offset == plainSize && plainSize > 0;
}

} // namespace

MediaCheck::Container MediaCheck::container(QIODevice* file, Kind kind, const QByteArray& key,
                                            const QByteArray& iv)
{
    if (!key.isEmpty() && (key.size() != block || iv.size() != block)) {
        return Container::None;
    }
    PlainReader reader(file, key, iv);
    const qint64 plainSize = reader.plainSize();
    if (plainSize <= 0) {
        return Container::None;
    }
    if (kind == Kind::Segment && isTransportStream(reader, plainSize)) {
        return Container::TransportStream;
    }
    return isMp4(reader, plainSize) ? Container::Mp4 : Container::None;
}

bool MediaCheck::isWhole(QIODevice* file, Kind kind, const QByteArray& key, const QByteArray& iv)
{
    return container(file, kind, key, iv) != Container::None;
}

bool MediaCheck::isWhole(const QString& path, Kind kind, const QByteArray& key,
                         const QByteArray& iv)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && isWhole(&file, kind, key, iv);
}
