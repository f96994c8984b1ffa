#include "TlsCredentials.h"

#include <QFile>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

#include <sys/stat.h>

namespace {

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

EVP_PKEY* makeKey()
{
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr);
    EVP_PKEY* key = nullptr;
    if (context && EVP_PKEY_keygen_init(context) == 1 &&
        EVP_PKEY_CTX_set_ec_paramgen_curve_nid(context, NID_X9_62_prime256v1) == 1 &&
        EVP_PKEY_CTX_set_ec_param_enc(context, OPENSSL_EC_NAMED_CURVE) == 1) {
        EVP_PKEY_keygen(context, &key);
    }
    EVP_PKEY_CTX_free(context);
    return key;
}

bool addExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) {
        return false;
    }
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A version 3 certificate of `key` named `commonName`, valid from an hour ago (clocks differ
// a little) for `days`, with a random serial number: browsers refuse a second authority that
// repeats the issuer name and serial number of one they have seen.
X509* makeCertificate(EVP_PKEY* key, const char* commonName, long days)
{
    X509* certificate = X509_new();
    unsigned char serial[8];
    BIGNUM* number = nullptr;
    bool ok = certificate && RAND_bytes(serial, sizeof(serial)) == 1;
    if (ok) {
        serial[0] &= 0x7f; // positive
        number = BN_bin2bn(serial, sizeof(serial), nullptr);
        ok = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate)) &&
             X509_set_version(certificate, 2) == 1 &&
             X509_gmtime_adj(X509_getm_notBefore(certificate), -3600) &&
             X509_gmtime_adj(X509_getm_notAfter(certificate), days * 24 * 3600) &&
             X509_set_pubkey(certificate, key) == 1;
    }
    BN_free(number);
    X509_NAME* name = ok ? X509_get_subject_name(certificate) : nullptr;
    ok = ok &&
         X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>("tamix-school"), -1, -1,
                                    0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                    0) == 1;
    if (!ok) {
        X509_free(certificate);
        return nullptr;
    }
    return certificate;
}

QString openSslError(const char* what)
{
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof(text));
    return QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLatin1(text);
}

} // namespace

TlsCredentials::TlsCredentials() = default;

TlsCredentials::~TlsCredentials()
{
    X509_free(serverCertificate);
    EVP_PKEY_free(serverKey);
    X509_free(caCertificate);
    EVP_PKEY_free(caKey);
}

bool TlsCredentials::create(const QString& caFile, QString* error)
{
    if (caFile.isEmpty() || !loadAuthority(caFile)) {
        if (!makeAuthority()) {
            *error = openSslError("cannot make the test certificate authority");
            return false;
        }
        if (!caFile.isEmpty() && !saveAuthority(caFile, error)) {
            return false;
        }
    }
    if (!makeServerCertificate()) {
        *error = openSslError("cannot make the server certificate");
        return false;
    }
    return true;
}

bool TlsCredentials::loadAuthority(const QString& caFile)
{
    const FilePointer certificateFile(std::fopen(QFile::encodeName(caFile).constData(), "rb"));
    const FilePointer keyFile(
        std::fopen(QFile::encodeName(caFile + QStringLiteral(".key")).constData(), "rb"));
    if (!certificateFile || !keyFile) {
        return false;
    }
    caCertificate = PEM_read_X509(certificateFile.get(), nullptr, nullptr, nullptr);
    caKey = PEM_read_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr);
    if (caCertificate && caKey && X509_check_private_key(caCertificate, caKey) == 1) {
        return true;
    }
    X509_free(caCertificate);
    EVP_PKEY_free(caKey);
    caCertificate = nullptr;
    caKey = nullptr;
    return false;
}

bool TlsCredentials::makeAuthority()
{
    caKey = makeKey();
    caCertificate = caKey ? makeCertificate(caKey, "tamix-school test CA", 3650) : nullptr;
    return caCertificate &&
           X509_set_issuer_name(caCertificate, X509_get_subject_name(caCertificate)) == 1 &&
           addExtension(caCertificate, caCertificate, NID_basic_constraints,
                        "critical,CA:TRUE,pathlen:0") &&
           addExtension(caCertificate, caCertificate, NID_key_usage,
                        "critical,keyCertSign,cRLSign") &&
           addExtension(caCertificate, caCertificate, NID_subject_key_identifier, "hash") &&
           X509_sign(caCertificate, caKey, EVP_sha256()) > 0;
}

bool TlsCredentials::saveAuthority(const QString& caFile, QString* error) const
{
    const QString keyName = caFile + QStringLiteral(".key");
    const FilePointer certificateFile(std::fopen(QFile::encodeName(caFile).constData(), "wb"));
    const FilePointer keyFile(std::fopen(QFile::encodeName(keyName).constData(), "wb"));
    if (!certificateFile || !keyFile) {
        *error = QStringLiteral("cannot write ") + (certificateFile ? keyName : caFile);
        return false;
    }
    // Only the key's owner may sign with it.
    fchmod(fileno(keyFile.get()), S_IRUSR | S_IWUSR);
    if (PEM_write_X509(certificateFile.get(), caCertificate) != 1 ||
        PEM_write_PrivateKey(keyFile.get(), caKey, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        *error = openSslError("cannot write the certificate authority");
        return false;
    }
    return true;
}

bool TlsCredentials::makeServerCertificate()
{
    serverKey = makeKey();
    serverCertificate = serverKey ? makeCertificate(serverKey, "127.0.0.1", 30) : nullptr;
    return serverCertificate &&
           X509_set_issuer_name(serverCertificate, X509_get_subject_name(caCertificate)) == 1 &&
           addExtension(serverCertificate, caCertificate, NID_basic_constraints, "CA:FALSE") &&
           addExtension(serverCertificate, caCertificate, NID_key_usage,
                        "critical,digitalSignature") &&
           addExtension(serverCertificate, caCertificate, NID_ext_key_usage, "serverAuth") &&
           addExtension(serverCertificate, caCertificate, NID_subject_alt_name,
                        "IP:127.0.0.1,DNS:localhost") &&
           addExtension(serverCertificate, caCertificate, NID_authority_key_identifier,
                        "keyid:always") &&
           X509_sign(serverCertificate, caKey, EVP_sha256()) > 0;
}
