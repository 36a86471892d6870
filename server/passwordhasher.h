#pragma once

#include <QString>

#include <cstddef>

// Salted, deliberately slow password hashes. New hashes are Argon2id in libsodium's own string
// form ("$argon2id$v=19$m=...,t=...,p=1$salt$hash"), whose cost travels with each hash. Older
// accounts may still hold "pbkdf2-sha256$<iterations>$<salt, base64>$<hash, base64>"; those
// verify as before and are replaced at the next successful login.
// Thread-safe: hashing and checking run on worker threads.
class PasswordHasher
{
public:
    struct Cost
    {
        unsigned long long passes;
        std::size_t memoryBytes;
    };
    // 19 MiB and 2 passes: the least that current guidance accepts for Argon2id.
    static constexpr Cost kDefaultCost{2, 19 * 1024 * 1024};
    // The library's minimum: far too cheap for real accounts; keeps tests that do not measure
    // the cost fast.
    static constexpr Cost kCheapestCost{1, 8192};
    static const int kDefaultPbkdf2Iterations;

    static QString hash(const QString &password, const Cost &cost = kDefaultCost);
    // The older form, for accounts written before Argon2id.
    static QString pbkdf2Hash(const QString &password, int iterations = kDefaultPbkdf2Iterations);
    // False for a wrong password and for anything that is not a hash of either form.
    static bool verify(const QString &password, const QString &encoded);
    // True when `encoded` is not an Argon2id hash of exactly this cost.
    static bool needsRehash(const QString &encoded, const Cost &cost = kDefaultCost);
};
