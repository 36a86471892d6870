#pragma once

#include <QHash>
#include <QList>
#include <QString>

// Slows down password guessing. After `maxFailures` failed logins for one account name from one
// client address within `windowMs`, that name is locked for that address for `windowMs`,
// whatever password comes next; so a stranger's guesses do not keep the owner out. Guesses for
// one name spread over many addresses meet a looser limit, `maxNameFailures`, which locks the
// name for everyone. Names that do not exist are counted too, so that the lock gives away
// nothing about which accounts exist.
// Kept in memory: a restart forgets it, which only ever favours the player.
class LoginThrottle
{
public:
    explicit LoginThrottle(int maxFailures = 5, qint64 windowMs = 60000, int maxNameFailures = 20);

    // Milliseconds until `name` may try again from `address`; 0 when it may try now.
    qint64 lockedFor(const QString &name, const QString &address, qint64 nowMs) const;
    void recordFailure(const QString &name, const QString &address, qint64 nowMs);
    // Clears the count of that address only: guesses from elsewhere still count.
    void recordSuccess(const QString &name, const QString &address);

private:
    struct Entry
    {
        QList<qint64> failures;
        qint64 lockedUntil = 0;
    };
    static QString pairKey(const QString &name, const QString &address);
    static QString nameKey(const QString &name);
    qint64 lockedFor(const QString &key, qint64 nowMs) const;
    void count(const QString &key, int maxFailures, qint64 nowMs);
    void prune(qint64 nowMs);

    int m_maxFailures;
    qint64 m_windowMs;
    int m_maxNameFailures;
    QHash<QString, Entry> m_entries;
};
