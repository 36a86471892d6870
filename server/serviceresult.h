#pragma once

#include <QJsonObject>
#include <QString>

// Outcome of one game operation, before it is put on the wire.
struct ServiceResult
{
    enum class Status
    {
        Ok,           // done; `data` holds the reply members
        Refused,      // a game rule said no; `message` is shown to the player, nothing changed
        Unauthorized, // the account behind the session is gone
        Conflict,     // a request id used before for another action; nothing changed
        Failed        // storage failure; nothing changed
    };
    Status status = Status::Ok;
    QJsonObject data;
    QString message;

    static ServiceResult ok(const QJsonObject &data);
    static ServiceResult refused(const QString &message);
    static ServiceResult unauthorized(const QString &message);
    static ServiceResult conflict(const QString &message);
    static ServiceResult failed();
};
