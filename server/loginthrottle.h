#pragma once

#include <QHash>
#include <QList>
#include <QString>

// Slows down password guessing: after `maxFailures` failed logins for one account name within
// `windowMs`, that name is locked for `windowMs`, whatever password comes next. Names that do not
// exist are counted too, so that the lock gives away nothing about which accounts exist.
// Kept in memory: a restart forgets it, which only ever favours the player.
class LoginThrottle
{
public:
    explicit LoginThrottle(int maxFailures = 5, qint64 windowMs = 60000);

    // Milliseconds until `name` may try again; 0 when it may try now.
    qint64 lockedFor(const QString &name, qint64 nowMs) const;
    void recordFailure(const QString &name, qint64 nowMs);
    void recordSuccess(const QString &name);

private:
    struct Entry
    {
        QList<qint64> failures;
        qint64 lockedUntil = 0;
    };
    void prune(qint64 nowMs);

    int m_maxFailures;
    qint64 m_windowMs;
    QHash<QString, Entry> m_entries;
};
