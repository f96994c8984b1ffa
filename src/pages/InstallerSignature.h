#pragma once

#include <QByteArray>
#include <QString>

// The school signs each installer with its update-signing key: an Ed25519 signature of the
// installer's SHA-256 digest (the 32 bytes), so the digest taken while the file streams in is
// all the check needs. The public key is fixed when the program is built
// (TAMIX_UPDATE_PUBKEY); a build without one checks the SHA-256 alone.
class InstallerSignature
{
public:
    static bool isRequired();
    // Base64 of 64 bytes.
    static bool isWellFormed(const QString& base64);
    static bool verify(const QByteArray& sha256, const QString& base64);
};
