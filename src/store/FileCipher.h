#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// AES (128, 192 or 256-bit key) applied block by block without chaining; the last partial
// block is filled with zero bytes and no length is stored, so n bytes become 16·ceil(n/16).
// This is the stored form of the record file and of every lesson's playlist. Each call keeps
// its own working state: one instance serves all threads.
class FileCipher
{
public:
    static constexpr int blockSize = 16;

    // `keyLength` must be 16, 24 or 32 bytes; any other gives an invalid cipher that writes
    // nothing.
    FileCipher(int keyLength, const unsigned char* key);
    // The program's own cipher, keyed with its fixed 16-byte key.
    static FileCipher programCipher();

    bool isValid() const { return !key.isEmpty(); }

    // Pass the buffer with std::move when it is not needed afterwards: it is then processed in
    // place.
    QByteArray encrypt(QByteArray plain) const;
    QByteArray decrypt(QByteArray encrypted) const;

    // Devices are opened when they are not yet open (input read-only, output write-only).
    bool encryptDevice(QIODevice* in, QIODevice* out) const;
    bool decryptDevice(QIODevice* in, QIODevice* out) const;

    // Destinations are replaced whole and atomically: a crash or a full disk leaves the
    // previous file as it was.
    bool encryptFile(const QString& source, const QString& destination) const;
    bool decryptFile(const QString& source, const QString& destination) const;
    // `error`, when given, gets the system's reason of a failed write.
    bool encryptBytes(QByteArray bytes, const QString& destination, QString* error = nullptr) const;
    // The text's Latin-1 form (characters outside Latin-1 become '?').
    bool encryptString(const QString& text, const QString& destination) const;
    // Decrypts a file into memory; `ok` tells whether it could be read.
    QByteArray decryptFileToBytes(const QString& source, bool* ok = nullptr) const;

private:
    bool process(bool encrypting, const char* in, qint64 length, char* out) const;
    bool processBytes(bool encrypting, QByteArray& bytes) const;
    bool processDevice(bool encrypting, QIODevice* in, QIODevice* out) const;
    bool processFile(bool encrypting, const QString& source, const QString& destination) const;

    QByteArray key;
};
