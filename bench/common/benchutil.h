#pragma once

// Small helpers the benchmarks share: the process's memory as the kernel reports it, a clock
// that every process on the machine reads alike, and order statistics.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

namespace bench {

struct Memory
{
    qint64 rssKb = -1; // VmRSS: resident now
    qint64 hwmKb = -1; // VmHWM: highest resident since start or the last resetPeak()
};

inline Memory readMemory()
{
    Memory memory;
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return memory;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        // "VmRSS:	   12345 kB"
        if (line.startsWith("VmRSS:"))
            memory.rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        else if (line.startsWith("VmHWM:"))
            memory.hwmKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return memory;
}

// Sets VmHWM back to the current RSS, so that one phase's peak is not hidden by an earlier one.
inline bool resetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write("5") == 1;
}

inline QString mib(qint64 kb)
{
    return kb < 0 ? QStringLiteral("n/a") : QString::number(double(kb) / 1024.0, 'f', 1);
}

// CLOCK_MONOTONIC in nanoseconds: the same clock in a parent and its children.
inline qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Nearest-rank percentile (p in 0..100) of a sample; 0 for an empty one.
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * double(values.size()));
    const size_t index = size_t(std::clamp(rank, 1.0, double(values.size()))) - 1;
    return values[index];
}

inline double median(const std::vector<double> &values)
{
    return percentile(values, 50);
}

inline double maximum(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

inline double minimum(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

// The first line of /proc/loadavg, for the figures' context.
inline QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("n/a");
    const QList<QByteArray> parts = file.readLine().trimmed().split(' ');
    return QString::fromLatin1(parts.mid(0, 3).join(' '));
}

// Points HOME and XDG_CONFIG_HOME at `home` (children inherit it), so that a benchmark never reads
// or writes the real player's settings. False when the folder could not be made.
inline bool useAsHome(const QTemporaryDir &home)
{
    if (!home.isValid())
        return false;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    return true;
}

} // namespace bench
