#pragma once

#include <QString>

#include <optional>

class AccountStore;

// Slows down password guessing. After `maxFailures` failed logins for one account name from one
// client address within `windowMs`, that name is locked for that address for `windowMs`,
// whatever password comes next; so a stranger's guesses do not keep the owner out. Guesses for
// one name spread over many addresses meet a looser limit, `maxNameFailures`, which locks the
// name for everyone. Names that do not exist are counted too, so that the lock gives away
// nothing about which accounts exist.
// Kept in the database, so that every server process on it sees the same counts: spreading
// guesses over processes gains nothing.
class LoginThrottle
{
public:
    explicit LoginThrottle(AccountStore &store, int maxFailures = 5, qint64 windowMs = 60000,
                           int maxNameFailures = 20);

    // Milliseconds until `name` may try again from `address`; 0 when it may try now; nullopt
    // when the database could not be read.
    std::optional<qint64> lockedFor(const QString &name, const QString &address, qint64 nowMs);
    bool recordFailure(const QString &name, const QString &address, qint64 nowMs);
    // Clears the count of that address only: guesses from elsewhere still count.
    bool recordSuccess(const QString &name, const QString &address);

private:
    static QString pairKey(const QString &name, const QString &address);
    static QString nameKey(const QString &name);

    AccountStore &m_store;
    int m_maxFailures;
    qint64 m_windowMs;
    int m_maxNameFailures;
    qint64 m_lastPruneMs = 0;
};
