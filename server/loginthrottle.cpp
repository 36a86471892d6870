#include "loginthrottle.h"

namespace {
// Past this many tracked names, stale entries are dropped before a new one is added.
const int kPruneThreshold = 4096;
} // namespace

LoginThrottle::LoginThrottle(int maxFailures, qint64 windowMs)
    : m_maxFailures(maxFailures), m_windowMs(windowMs)
{
}

qint64 LoginThrottle::lockedFor(const QString &name, qint64 nowMs) const
{
    const auto it = m_entries.constFind(name);
    if (it == m_entries.constEnd())
        return 0;
    return qMax<qint64>(0, it->lockedUntil - nowMs);
}

void LoginThrottle::recordFailure(const QString &name, qint64 nowMs)
{
    if (m_entries.size() >= kPruneThreshold && !m_entries.contains(name))
        prune(nowMs);
    Entry &entry = m_entries[name];
    entry.failures.removeIf([&](qint64 at) { return at <= nowMs - m_windowMs || at > nowMs; });
    entry.failures.append(nowMs);
    if (entry.failures.size() >= m_maxFailures) {
        entry.lockedUntil = nowMs + m_windowMs;
        entry.failures.clear();
    }
}

void LoginThrottle::recordSuccess(const QString &name)
{
    m_entries.remove(name);
}

void LoginThrottle::prune(qint64 nowMs)
{
    m_entries.removeIf([&](const QHash<QString, Entry>::iterator it) {
        return it->lockedUntil <= nowMs &&
               (it->failures.isEmpty() || it->failures.last() <= nowMs - m_windowMs);
    });
}
