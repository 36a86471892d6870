#include "certificatestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

const char kCertName[] = "cert.pem";
const char kKeyName[] = "key.pem";

// Copies `from` to `to` through a QSaveFile: `to` is either the old file or the whole new one.
bool storeAtomically(const QString &from, const QString &to, QFile::Permissions permissions,
                     QString *error)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read what openssl wrote to %1").arg(from);
        return false;
    }
    const QByteArray bytes = source.readAll();
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly) || !target.setPermissions(permissions) ||
        target.write(bytes) != bytes.size() || !target.commit()) {
        *error = QStringLiteral("cannot store %1: %2").arg(to, target.errorString());
        return false;
    }
    return true;
}

} // namespace

bool CertificateStore::ensureSelfSigned(const QString &dir, QString *certPath, QString *keyPath,
                                        QString *error)
{
    const QDir folder(dir);
    *certPath = folder.absoluteFilePath(QLatin1String(kCertName));
    *keyPath = folder.absoluteFilePath(QLatin1String(kKeyName));
    if (QFileInfo::exists(*certPath) && QFileInfo::exists(*keyPath))
        return true;

    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        *error = QStringLiteral("the openssl command is needed to make a certificate; install it "
                                "or pass --cert and --key");
        return false;
    }
    // openssl writes into a private folder; the pair is then put in place with atomic renames,
    // the key first, so that a reader never sees a half-written file.
    QTemporaryDir work(QDir::temp().filePath(QStringLiteral("taptempest-cert-XXXXXX")));
    if (!work.isValid()) {
        *error = QStringLiteral("cannot make a temporary folder for the certificate: %1")
                     .arg(work.errorString());
        return false;
    }
    const QString certTemp = work.filePath(QLatin1String(kCertName));
    const QString keyTemp = work.filePath(QLatin1String(kKeyName));
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openssl,
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-sha256"), QStringLiteral("-days"), QStringLiteral("3650"),
                   QStringLiteral("-subj"), QStringLiteral("/O=TapTempest/CN=127.0.0.1"),
                   QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"),
                   QStringLiteral("-keyout"), keyTemp, QStringLiteral("-out"), certTemp});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = QStringLiteral("openssl could not make a certificate: %1")
                     .arg(QString::fromLocal8Bit(process.readAll()).trimmed());
        return false;
    }
    if (!storeAtomically(keyTemp, *keyPath, QFile::ReadOwner | QFile::WriteOwner, error) ||
        !storeAtomically(certTemp, *certPath, QFile::ReadOwner | QFile::WriteOwner, error))
        return false;
    return true;
}

bool CertificateStore::load(const QString &certPath, const QString &keyPath,
                            QSslConfiguration *config, QString *error)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certPath, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        *error = QStringLiteral("no certificate in %1").arg(certPath);
        return false;
    }
    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the key %1").arg(keyPath);
        return false;
    }
    const QByteArray pem = keyFile.readAll();
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        *error = QStringLiteral("no usable private key in %1 (EC, RSA or DSA, unencrypted PEM)")
                     .arg(keyPath);
        return false;
    }
    *config = QSslConfiguration::defaultConfiguration();
    config->setLocalCertificate(chain.first());
    if (chain.size() > 1)
        config->setLocalCertificateChain(chain);
    config->setPrivateKey(key);
    config->setPeerVerifyMode(QSslSocket::VerifyNone);
    config->setProtocol(QSsl::TlsV1_2OrLater);
    return true;
}
