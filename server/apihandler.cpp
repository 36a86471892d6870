#include "apihandler.h"

#include "gameservice.h"
#include "requestjournal.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <optional>

namespace {

enum class Action
{
    Login,
    Click,
    Exchange,
    Deposit,
    BuyEffect,
    Stats,
    Ranking,
    EffectList
};

struct ActionInfo
{
    const char *name;
    Action action;
    bool post;
};

const ActionInfo kActions[] = {
    {"login", Action::Login, true},          {"click", Action::Click, true},
    {"exchange", Action::Exchange, true},    {"deposit", Action::Deposit, true},
    {"buy_effect", Action::BuyEffect, true}, {"stats", Action::Stats, false},
    {"ranking", Action::Ranking, false},     {"effects/list", Action::EffectList, false},
};

// Integers travel as JSON numbers, that is doubles: beyond 2^53 they are no longer exact.
const double kMaxExactInteger = 9007199254740992.0;

// A request field that failed the type check; becomes a 400.
struct FieldError
{
    QString message;
};

std::optional<qint64> integerMember(const QJsonObject &body, const QString &key, FieldError *error)
{
    const QJsonValue value = body.value(key);
    if (value.isUndefined() || value.isNull()) {
        error->message = QStringLiteral("缺少参数 %1").arg(key);
        return std::nullopt;
    }
    const double d = value.toDouble();
    if (!value.isDouble() || !std::isfinite(d) || d != std::floor(d) ||
        std::fabs(d) > kMaxExactInteger) {
        error->message = QStringLiteral("参数 %1 必须是整数").arg(key);
        return std::nullopt;
    }
    return qint64(d);
}

std::optional<QString> stringMember(const QJsonObject &body, const QString &key, FieldError *error)
{
    const QJsonValue value = body.value(key);
    if (value.isUndefined() || value.isNull()) {
        error->message = QStringLiteral("缺少参数 %1").arg(key);
        return std::nullopt;
    }
    if (!value.isString()) {
        error->message = QStringLiteral("参数 %1 必须是字符串").arg(key);
        return std::nullopt;
    }
    return value.toString();
}

// The optional request id of a player action: absent gives an empty id.
std::optional<QString> requestIdMember(const QJsonObject &body, FieldError *error)
{
    const QString key = QStringLiteral("request_id");
    if (!body.contains(key))
        return QString();
    const QJsonValue value = body.value(key);
    if (!value.isString()) {
        error->message = QStringLiteral("参数 request_id 必须是字符串");
        return std::nullopt;
    }
    if (!RequestJournal::isValidRequestId(value.toString())) {
        error->message = QStringLiteral("参数 request_id 必须是 1 到 %1 个可见字符")
                             .arg(RequestJournal::kMaxRequestIdLength);
        return std::nullopt;
    }
    return value.toString();
}

// A decimal query item; out-of-range values saturate, since the caller clamps anyway.
std::optional<qint64> decimalQueryItem(const QString &text)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (ok)
        return value;
    return text.startsWith(QLatin1Char('-')) ? std::numeric_limits<qint64>::min()
                                             : std::numeric_limits<qint64>::max();
}

} // namespace

const char ApiHandler::kEndpointPath[] = "/api/index.php";

ApiHandler::ApiHandler(GameService &service) : m_service(service)
{
}

QJsonObject ApiHandler::envelope(bool success, const QJsonObject &data, const QString &message)
{
    QJsonObject object;
    object.insert(QStringLiteral("success"), success);
    object.insert(QStringLiteral("data"), data);
    object.insert(QStringLiteral("message"), message);
    return object;
}

ApiResponse ApiHandler::failure(int status, const QString &message)
{
    return ApiResponse{status, envelope(false, QJsonObject(), message)};
}

ApiResponse ApiHandler::spend(const QJsonObject &body, const QString &member, qint64 userId,
                              SpendAction action)
{
    FieldError fieldError;
    const auto value = integerMember(body, member, &fieldError);
    const auto requestId = value ? requestIdMember(body, &fieldError) : std::nullopt;
    if (!requestId)
        return failure(400, fieldError.message);
    return fromResult((m_service.*action)(userId, *value, *requestId));
}

ApiResponse ApiHandler::fromResult(const ServiceResult &result)
{
    switch (result.status) {
    case ServiceResult::Status::Ok:
        return ApiResponse{200, envelope(true, result.data, QString())};
    case ServiceResult::Status::Refused:
        return failure(200, result.message);
    case ServiceResult::Status::Unauthorized:
        return failure(401, result.message);
    case ServiceResult::Status::Conflict:
        return failure(409, result.message);
    case ServiceResult::Status::Failed:
        break;
    }
    return failure(500, result.message);
}

void ApiHandler::handle(const ApiRequest &request, Reply reply)
{
    Login login;
    const ApiResponse response = answer(request, &login);
    if (!login.wanted) {
        reply(response);
        return;
    }
    m_service.loginAsync(
        login.username, login.password, request.clientAddress,
        [reply = std::move(reply)](const ServiceResult &result) { reply(fromResult(result)); });
}

ApiResponse ApiHandler::answer(const ApiRequest &request, Login *login)
{
    if (request.path != QLatin1String(kEndpointPath))
        return failure(404, QStringLiteral("接口不存在"));

    const QString actionName =
        request.query.queryItemValue(QStringLiteral("action"), QUrl::FullyDecoded);
    const ActionInfo *info = nullptr;
    for (const ActionInfo &candidate : kActions) {
        if (actionName == QLatin1String(candidate.name))
            info = &candidate;
    }
    if (actionName.isEmpty())
        return failure(400, QStringLiteral("缺少 action 参数"));
    if (!info)
        return failure(400, QStringLiteral("未知的操作: %1").arg(actionName.left(64)));

    const QByteArray expectedMethod = info->post ? QByteArray("POST") : QByteArray("GET");
    if (request.method != expectedMethod) {
        return failure(400, QStringLiteral("操作 %1 只接受 %2 请求")
                                .arg(actionName, QString::fromLatin1(expectedMethod)));
    }

    QJsonObject body;
    if (info->post) {
        if (request.body.size() > kMaxBodyBytes)
            return failure(413, QStringLiteral("请求内容超过 64 KiB"));
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(request.body, &parseError);
        if (!doc.isObject())
            return failure(400, QStringLiteral("请求内容必须是 JSON 对象"));
        body = doc.object();
    }

    FieldError fieldError;
    if (info->action == Action::Login) {
        const auto username = stringMember(body, QStringLiteral("username"), &fieldError);
        const auto password =
            username ? stringMember(body, QStringLiteral("password"), &fieldError) : std::nullopt;
        if (!password)
            return failure(400, fieldError.message);
        login->wanted = true;
        login->username = *username;
        login->password = *password;
        return ApiResponse();
    }

    // Everything else needs a live session.
    QString token;
    if (info->post) {
        const QJsonValue value = body.value(QStringLiteral("token"));
        if (!value.isUndefined() && !value.isNull() && !value.isString())
            return failure(400, QStringLiteral("参数 token 必须是字符串"));
        token = value.toString();
    } else {
        token = request.query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
    }
    if (token.isEmpty())
        return failure(401, QStringLiteral("请先登录"));
    const qint64 userId = m_service.userForToken(token);
    if (userId < 0)
        return fromResult(ServiceResult::failed());
    if (userId == 0)
        return failure(401, QStringLiteral("登录已过期或 Token 无效，请重新登录"));

    switch (info->action) {
    case Action::Login:
        break;
    case Action::Click: {
        const auto count = integerMember(body, QStringLiteral("count"), &fieldError);
        if (!count)
            return failure(400, fieldError.message);
        // Optional: lets a batch that is sent again be credited once.
        if (!body.contains(QStringLiteral("sync_id")))
            return fromResult(m_service.click(userId, *count));
        const auto syncId = stringMember(body, QStringLiteral("sync_id"), &fieldError);
        const auto syncTotal =
            syncId ? integerMember(body, QStringLiteral("sync_total"), &fieldError) : std::nullopt;
        if (!syncTotal)
            return failure(400, fieldError.message);
        if (syncId->isEmpty() || syncId->size() > 64)
            return failure(400, QStringLiteral("参数 sync_id 必须是 1 到 64 个字符"));
        // PostgreSQL text cannot hold NUL: refuse it on every store rather than fail on one.
        if (syncId->contains(QChar(u'\0')))
            return failure(400, QStringLiteral("参数 sync_id 不能包含空字符"));
        return fromResult(m_service.click(userId, *count, *syncId, *syncTotal));
    }
    case Action::Exchange:
        return spend(body, QStringLiteral("clicks_to_exchange"), userId, &GameService::exchange);
    case Action::Deposit:
        return spend(body, QStringLiteral("clicks_amount"), userId, &GameService::deposit);
    case Action::BuyEffect:
        return spend(body, QStringLiteral("effect_id"), userId, &GameService::buyEffect);
    case Action::Stats:
        return fromResult(m_service.stats(userId));
    case Action::Ranking: {
        qint64 limit = GameService::kDefaultRankingLimit;
        if (request.query.hasQueryItem(QStringLiteral("limit"))) {
            const auto parsed = decimalQueryItem(
                request.query.queryItemValue(QStringLiteral("limit"), QUrl::FullyDecoded));
            if (!parsed)
                return failure(400, QStringLiteral("参数 limit 必须是整数"));
            limit = *parsed;
        }
        return fromResult(m_service.ranking(limit));
    }
    case Action::EffectList:
        return fromResult(m_service.effectList(userId));
    }
    return failure(400, QStringLiteral("未知的操作: %1").arg(actionName.left(64)));
}
