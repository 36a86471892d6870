#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrlQuery>

#include <functional>

class GameService;
struct ServiceResult;

// One HTTP request as far as the game cares.
struct ApiRequest
{
    QByteArray method; // "GET", "POST", ...
    QString path;
    QUrlQuery query;
    QByteArray body;
    QString clientAddress; // for the login throttle; empty when unknown
};

// Status code and envelope ({"success", "data", "message"}) of the reply.
struct ApiResponse
{
    int status = 200;
    QJsonObject envelope;
};

// The wire protocol: picks the action from the query, checks the method, the body, the session
// token and the types of the request fields, runs the action and wraps the outcome in an
// envelope. Malformed requests get 400, a missing or dead session 401, a request id reused for
// another action 409, game refusals 200 with success false and a message the client shows as it
// is.
class ApiHandler
{
public:
    static const qint64 kMaxBodyBytes = 64 * 1024;
    static const char kEndpointPath[];

    explicit ApiHandler(GameService &service);

    using Reply = std::function<void(const ApiResponse &)>;
    // `reply` runs once: at once for most actions, later for a login, whose password check runs
    // off this thread.
    void handle(const ApiRequest &request, Reply reply);

    static QJsonObject envelope(bool success, const QJsonObject &data, const QString &message);
    static ApiResponse failure(int status, const QString &message);

private:
    struct Login
    {
        bool wanted = false;
        QString username;
        QString password;
        QString address;
    };
    // The answer to anything but a well-formed login, which it leaves in `login`.
    ApiResponse answer(const ApiRequest &request, Login *login);
    static ApiResponse fromResult(const ServiceResult &result);
    // Exchange, deposit and purchase: one amount or id member, an optional request id, then the
    // service's action.
    using SpendAction = ServiceResult (GameService::*)(qint64, qint64, const QString &);
    ApiResponse spend(const QJsonObject &body, const QString &member, qint64 userId,
                      SpendAction action);

    GameService &m_service;
};
