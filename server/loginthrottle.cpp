#include "loginthrottle.h"

#include "accountstore.h"
#include "gamedatabase.h"

LoginThrottle::LoginThrottle(AccountStore &store, int maxFailures, qint64 windowMs,
                             int maxNameFailures)
    : m_store(store), m_maxFailures(maxFailures), m_windowMs(windowMs),
      m_maxNameFailures(maxNameFailures)
{
}

// An address never holds a blank or is "*", so the keys of different pairs cannot meet.
QString LoginThrottle::pairKey(const QString &name, const QString &address)
{
    return address + QLatin1Char(' ') + name;
}

QString LoginThrottle::nameKey(const QString &name)
{
    return QStringLiteral("* ") + name;
}

std::optional<qint64> LoginThrottle::lockedFor(const QString &name, const QString &address,
                                               qint64 nowMs)
{
    const auto until = m_store.lockedUntil(pairKey(name, address), nameKey(name));
    if (!until)
        return std::nullopt;
    return qMax<qint64>(0, *until - nowMs);
}

bool LoginThrottle::recordFailure(const QString &name, const QString &address, qint64 nowMs)
{
    // Stale records of names nobody tries any more, at most once a window per process.
    if (nowMs - m_lastPruneMs >= m_windowMs || nowMs < m_lastPruneMs) {
        m_lastPruneMs = nowMs;
        m_store.forgetLoginFailuresBefore(nowMs - m_windowMs);
    }
    GameDatabase::Transaction transaction(m_store.database(), "login throttle");
    if (!transaction.isActive())
        return false;
    // Always the pair first, then the name: two processes never wait for each other in a circle.
    const std::pair<QString, int> rules[] = {{pairKey(name, address), m_maxFailures},
                                             {nameKey(name), m_maxNameFailures}};
    for (const auto &[key, maxFailures] : rules) {
        if (!m_store.lockThrottleKey(key))
            return false;
        const auto failures = m_store.addLoginFailure(key, nowMs, nowMs - m_windowMs + 1);
        if (!failures)
            return false;
        if (*failures >= maxFailures && !m_store.lockLogins(key, nowMs + m_windowMs))
            return false;
    }
    return transaction.commit();
}

bool LoginThrottle::recordSuccess(const QString &name, const QString &address)
{
    return m_store.clearLoginFailures(pairKey(name, address));
}
