#pragma once

#include <QString>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

// A certificate authority of the school's own and a server certificate for 127.0.0.1 and
// localhost signed by it, made in memory, so that clients can be made to trust exactly this
// school and nothing else.
class TlsCredentials
{
public:
    TlsCredentials();
    ~TlsCredentials();
    TlsCredentials(const TlsCredentials&) = delete;
    TlsCredentials& operator=(const TlsCredentials&) = delete;

    // Makes the authority and the server certificate. With a file name the authority's
    // certificate is written there as PEM and its key beside it (FILE + ".key"); when both
    // exist already they are used again, so that a restarted school keeps the authority its
    // clients trust. Without a file name the authority is known to nobody. False with a message.
    bool create(const QString& caFile, QString* error);

    X509* certificate() const { return serverCertificate; }
    EVP_PKEY* key() const { return serverKey; }
    X509* authority() const { return caCertificate; }

private:
    bool loadAuthority(const QString& caFile);
    bool makeAuthority();
    bool saveAuthority(const QString& caFile, QString* error) const;
    bool makeServerCertificate();

    EVP_PKEY* caKey = nullptr;
    X509* caCertificate = nullptr;
    EVP_PKEY* serverKey = nullptr;
    X509* serverCertificate = nullptr;
};
