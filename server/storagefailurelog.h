#pragma once

#include <QHash>
#include <QLoggingCategory>
#include <QString>

#include <functional>

Q_DECLARE_LOGGING_CATEGORY(lcStorage)

// Says on the server's output which storage action failed and SQLite's reason. A failure that
// repeats (a full disk fails every write) is told at most once a second, with the count of
// those left out since.
class StorageFailureLog
{
public:
    using Clock = std::function<qint64()>; // milliseconds, monotonic

    explicit StorageFailureLog(Clock clock = Clock());

    // The log every database of this process reports to.
    static StorageFailureLog &shared();

    // Returns whether a line was written.
    bool report(const QString &action, const QString &reason);

    static const qint64 kRepeatIntervalMs = 1000;

private:
    struct Seen
    {
        qint64 lastLoggedMs = 0;
        int suppressed = 0;
    };
    Clock m_clock;
    QHash<QString, Seen> m_seen;
};
