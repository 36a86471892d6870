#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrlQuery>

class GameService;
struct ServiceResult;

// One HTTP request as far as the game cares.
struct ApiRequest
{
    QByteArray method; // "GET", "POST", ...
    QString path;
    QUrlQuery query;
    QByteArray body;
};

// Status code and envelope ({"success", "data", "message"}) of the reply.
struct ApiResponse
{
    int status = 200;
    QJsonObject envelope;
};

// The wire protocol: picks the action from the query, checks the method, the body, the session
// token and the types of the request fields, runs the action and wraps the outcome in an
// envelope. Malformed requests get 400, a missing or dead session 401, game refusals 200 with
// success false and a message the client shows as it is.
class ApiHandler
{
public:
    static const qint64 kMaxBodyBytes = 64 * 1024;
    static const char kEndpointPath[];

    explicit ApiHandler(GameService &service);

    ApiResponse handle(const ApiRequest &request);

    static QJsonObject envelope(bool success, const QJsonObject &data, const QString &message);
    static ApiResponse failure(int status, const QString &message);

private:
    ApiResponse fromResult(const ServiceResult &result) const;

    GameService &m_service;
};
