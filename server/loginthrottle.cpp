#include "loginthrottle.h"

namespace {
// Past this many tracked keys, stale entries are dropped before a new one is added.
const int kPruneThreshold = 4096;
} // namespace

LoginThrottle::LoginThrottle(int maxFailures, qint64 windowMs, int maxNameFailures)
    : m_maxFailures(maxFailures), m_windowMs(windowMs), m_maxNameFailures(maxNameFailures)
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

qint64 LoginThrottle::lockedFor(const QString &name, const QString &address, qint64 nowMs) const
{
    return qMax(lockedFor(pairKey(name, address), nowMs), lockedFor(nameKey(name), nowMs));
}

qint64 LoginThrottle::lockedFor(const QString &key, qint64 nowMs) const
{
    const auto it = m_entries.constFind(key);
    if (it == m_entries.constEnd())
        return 0;
    return qMax<qint64>(0, it->lockedUntil - nowMs);
}

void LoginThrottle::recordFailure(const QString &name, const QString &address, qint64 nowMs)
{
    count(pairKey(name, address), m_maxFailures, nowMs);
    count(nameKey(name), m_maxNameFailures, nowMs);
}

void LoginThrottle::count(const QString &key, int maxFailures, qint64 nowMs)
{
    if (m_entries.size() >= kPruneThreshold && !m_entries.contains(key))
        prune(nowMs);
    Entry &entry = m_entries[key];
    entry.failures.removeIf([&](qint64 at) { return at <= nowMs - m_windowMs || at > nowMs; });
    entry.failures.append(nowMs);
    if (entry.failures.size() >= maxFailures) {
        entry.lockedUntil = nowMs + m_windowMs;
        entry.failures.clear();
    }
}

void LoginThrottle::recordSuccess(const QString &name, const QString &address)
{
    m_entries.remove(pairKey(name, address));
}

void LoginThrottle::prune(qint64 nowMs)
{
    m_entries.removeIf([&](const QHash<QString, Entry>::iterator it) {
        return it->lockedUntil <= nowMs &&
               (it->failures.isEmpty() || it->failures.last() <= nowMs - m_windowMs);
    });
}
