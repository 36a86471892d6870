#include "replyfigures.h"

#include <cmath>

namespace {

// 2^63: the first double beyond qint64.
constexpr double kLimit = 9223372036854775808.0;

bool inRange(const QJsonValue &value)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    return std::isfinite(d) && d >= 0 && d < kLimit;
}

} // namespace

bool ReplyFigures::count(const QJsonObject &data, const QString &member, qint64 *out)
{
    const QJsonValue value = data.value(member);
    if (value.isUndefined()) {
        *out = 0;
        return true;
    }
    if (!inRange(value) || value.toDouble() != std::floor(value.toDouble()))
        return false;
    // Above 2^53 a double no longer holds every whole number; the JSON text may still.
    *out = value.toInteger(static_cast<qint64>(value.toDouble()));
    return *out >= 0;
}

bool ReplyFigures::balance(const QJsonObject &data, const QString &member, QString *out)
{
    const QJsonValue value = data.value(member);
    if (value.isUndefined()) {
        *out = QStringLiteral("0");
        return true;
    }
    if (!inRange(value))
        return false;
    *out = QString::number(value.toDouble(), 'f', 0);
    return true;
}
