#pragma once

#include <QString>

class QSslConfiguration;

// The server's TLS identity: a certificate and private key in PEM files.
class CertificateStore
{
public:
    // Makes a self-signed certificate for 127.0.0.1 and localhost, with its key, in `dir` through
    // the openssl command when the pair is not there yet; either way sets the paths of the pair.
    static bool ensureSelfSigned(const QString &dir, QString *certPath, QString *keyPath,
                                 QString *error);
    // Reads the pair into a server-side TLS configuration.
    static bool load(const QString &certPath, const QString &keyPath, QSslConfiguration *config,
                     QString *error);
};
