#pragma once

#include <QString>

// Salted, deliberately slow password hashes (PBKDF2-HMAC-SHA256), stored as
// "pbkdf2-sha256$<iterations>$<salt, base64>$<hash, base64>". The iteration count travels with
// each hash, so raising the default later keeps old accounts working.
class PasswordHasher
{
public:
    static const int kDefaultIterations;

    static QString hash(const QString &password, int iterations = kDefaultIterations);
    // False for a wrong password and for anything that is not a hash of this form.
    static bool verify(const QString &password, const QString &encoded);
};
