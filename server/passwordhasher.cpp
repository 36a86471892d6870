#include "passwordhasher.h"

#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace {

const char kScheme[] = "pbkdf2-sha256";
const int kSaltBytes = 16;
const int kHashBytes = 32;
// Bounds a stored count, so that a damaged row cannot stall the server.
const int kMaxIterations = 10000000;

QByteArray derive(const QString &password, const QByteArray &salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                              iterations, kHashBytes);
}

// Takes as long for a mismatch in the first byte as for one in the last.
bool equalInConstantTime(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

} // namespace

// Some tens of milliseconds per check on a current desktop core.
const int PasswordHasher::kDefaultIterations = 15000;

QString PasswordHasher::hash(const QString &password, int iterations)
{
    QByteArray salt(kSaltBytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()),
                                          kSaltBytes / int(sizeof(quint32)));
    const QByteArray key = derive(password, salt, iterations);
    return QStringLiteral("%1$%2$%3$%4")
        .arg(QLatin1String(kScheme))
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(key.toBase64()));
}

bool PasswordHasher::verify(const QString &password, const QString &encoded)
{
    const QStringList parts = encoded.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts.at(0) != QLatin1String(kScheme))
        return false;
    bool ok = false;
    const int iterations = parts.at(1).toInt(&ok);
    if (!ok || iterations < 1 || iterations > kMaxIterations)
        return false;
    const auto salt = QByteArray::fromBase64Encoding(parts.at(2).toLatin1(),
                                                     QByteArray::AbortOnBase64DecodingErrors);
    const auto expected = QByteArray::fromBase64Encoding(parts.at(3).toLatin1(),
                                                         QByteArray::AbortOnBase64DecodingErrors);
    if (!salt || !expected || salt.decoded.isEmpty() || expected.decoded.size() != kHashBytes)
        return false;
    return equalInConstantTime(derive(password, salt.decoded, iterations), expected.decoded);
}
