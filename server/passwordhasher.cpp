#include "passwordhasher.h"

#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>

#include <sodium.h>

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

static_assert(PasswordHasher::kCheapestCost.passes >= crypto_pwhash_OPSLIMIT_MIN &&
                  PasswordHasher::kCheapestCost.memoryBytes >= crypto_pwhash_MEMLIMIT_MIN,
              "below what the library accepts");
const int PasswordHasher::kDefaultPbkdf2Iterations = 15000;

namespace {

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// A damaged row must not make one check allocate gigabytes or run for minutes.
bool argon2CostIsSane(const QString &encoded)
{
    static const QRegularExpression parameters(
        QStringLiteral("^\\$argon2id\\$v=19\\$m=([0-9]{1,8}),t=([0-9]{1,4}),p=1\\$"));
    const QRegularExpressionMatch match = parameters.match(encoded);
    return match.hasMatch() && match.captured(1).toLongLong() <= 1024 * 1024 &&
           match.captured(2).toInt() <= 64;
}

} // namespace

QString PasswordHasher::hash(const QString &password, const Cost &cost)
{
    if (!sodiumReady())
        return QString();
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    // Fails only when the memory cannot be had; an empty hash then matches no password.
    if (crypto_pwhash_str_alg(out, utf8.constData(), quint64(utf8.size()), cost.passes,
                              cost.memoryBytes, crypto_pwhash_ALG_ARGON2ID13) != 0)
        return QString();
    return QString::fromLatin1(out);
}

bool PasswordHasher::needsRehash(const QString &encoded, const Cost &cost)
{
    if (!encoded.startsWith(QLatin1String(crypto_pwhash_argon2id_STRPREFIX)))
        return true;
    const QByteArray latin = encoded.toLatin1();
    if (!sodiumReady())
        return false;
    return crypto_pwhash_str_needs_rehash(latin.constData(), cost.passes, cost.memoryBytes) != 0;
}

QString PasswordHasher::pbkdf2Hash(const QString &password, int iterations)
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
    if (encoded.startsWith(QLatin1String(crypto_pwhash_argon2id_STRPREFIX))) {
        const QByteArray latin = encoded.toLatin1();
        if (latin.size() >= crypto_pwhash_STRBYTES || !argon2CostIsSane(encoded) || !sodiumReady())
            return false;
        const QByteArray utf8 = password.toUtf8();
        return crypto_pwhash_str_verify(latin.constData(), utf8.constData(),
                                        quint64(utf8.size())) == 0;
    }
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
