#pragma once

#include <QJsonObject>
#include <QString>

// Figures of a server reply, checked before anything shows them. A figure that is absent reads
// as 0 (servers leave out what is zero); one that is present must be a whole number from 0 to
// below 2^63, else the whole reply is bad.
class ReplyFigures
{
public:
    // `member` of `data` as a count: clicks, gold, yuan.
    static bool count(const QJsonObject &data, const QString &member, qint64 *out);
    // `member` of `data` as a bank balance: non-negative and below 2^63, shown without decimals.
    static bool balance(const QJsonObject &data, const QString &member, QString *out);
};
