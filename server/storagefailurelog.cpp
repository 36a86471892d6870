#include "storagefailurelog.h"

#include <QElapsedTimer>

Q_LOGGING_CATEGORY(lcStorage, "taptempest.server.storage")

namespace {

// Enough for every distinct action and reason a server meets; a bound all the same.
const int kMaxRemembered = 256;

qint64 monotonicMs()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

} // namespace

StorageFailureLog::StorageFailureLog(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock(monotonicMs))
{
}

StorageFailureLog &StorageFailureLog::shared()
{
    static StorageFailureLog log;
    return log;
}

bool StorageFailureLog::report(const QString &action, const QString &reason)
{
    const qint64 now = m_clock();
    const QString key = action + QChar(0) + reason;
    auto it = m_seen.find(key);
    if (it != m_seen.end() && now - it->lastLoggedMs < kRepeatIntervalMs) {
        ++it->suppressed;
        return false;
    }
    const int suppressed = it == m_seen.end() ? 0 : it->suppressed;
    if (it == m_seen.end()) {
        if (m_seen.size() >= kMaxRemembered)
            m_seen.clear();
        it = m_seen.insert(key, Seen());
    }
    it->lastLoggedMs = now;
    it->suppressed = 0;
    if (suppressed > 0)
        qCWarning(lcStorage).noquote().nospace()
            << "storage failure while " << action << ": " << reason << " (" << suppressed
            << " more since the last report)";
    else
        qCWarning(lcStorage).noquote().nospace()
            << "storage failure while " << action << ": " << reason;
    return true;
}
