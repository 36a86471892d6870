#include "apiclient.h"

#include "authmanager.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

#include <cmath>

namespace {

const char kTokenProperty[] = "taptempestToken";
const char kClickProperty[] = "taptempestClicks";
const char kQuietProperty[] = "taptempestQuiet";
const char kTooLargeProperty[] = "taptempestTooLarge";

QString newRequestId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// The request went out and no reply came back: the server may have applied it. A reply cut off
// for its size did come back.
bool gotNoReply(QNetworkReply *reply)
{
    if (reply->property(kTooLargeProperty).toBool())
        return false;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply->error() == QNetworkReply::OperationCanceledError ||
           (reply->error() == QNetworkReply::RemoteHostClosedError && status == 0);
}

Q_LOGGING_CATEGORY(lcNet, "taptempest.net")

void warn(const QString &line)
{
    qCWarning(lcNet).noquote() << line;
}

bool isUsableUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.isRelative() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

QString queryValue(const QJsonValue &value)
{
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (d == std::floor(d) && std::fabs(d) < 9.0e15)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 17);
    }
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.toString();
}

ApiCallback forwardArray(const QString &member, ApiArrayCallback callback)
{
    return [member, callback = std::move(callback)](bool success, const QJsonObject &data,
                                                    const ApiError &error) {
        if (success)
            callback(true, data.value(member).toArray(), ApiError());
        else
            callback(false, QJsonArray(), error);
    };
}

} // namespace

ApiClient::ApiClient(QObject *parent) : QObject(parent), baseUrl(defaultEndpoint())
{
    // A redirect elsewhere would carry the password or token to a host nobody configured.
    manager.setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    const QString fromEnv = qEnvironmentVariable("TAPTEMPEST_SERVER_URL").trimmed();
    if (!fromEnv.isEmpty()) {
        if (isUsableUrl(fromEnv))
            baseUrl = fromEnv;
        else
            warn(QStringLiteral("TAPTEMPEST_SERVER_URL \"%1\" is not an absolute http(s) URL; "
                                "using %2")
                     .arg(fromEnv, baseUrl));
    }
}

ApiClient::~ApiClient() = default;

QString ApiClient::defaultEndpoint()
{
    return QStringLiteral(TAPTEMPEST_DEFAULT_SERVER_URL);
}

void ApiClient::setAuthManager(AuthManager *auth)
{
    authManager = auth;
}

void ApiClient::configureSsl()
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    const QString caFile = qEnvironmentVariable("TAPTEMPEST_CA_FILE");
    if (caFile.isEmpty()) {
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        QSslConfiguration::setDefaultConfiguration(config);
        return;
    }

    // A named CA file means the server is pinned: verification stays on whatever happens.
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    QFile file(caFile);
    if (!file.open(QIODevice::ReadOnly)) {
        warn(QStringLiteral("TAPTEMPEST_CA_FILE \"%1\" cannot be read; verifying the server "
                            "against the system's certificate authorities")
                 .arg(caFile));
        config.setCaCertificates(QSslConfiguration::systemCaCertificates());
    } else {
        const QList<QSslCertificate> certs = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
        if (certs.isEmpty()) {
            warn(QStringLiteral("TAPTEMPEST_CA_FILE \"%1\" holds no certificate; verifying the "
                                "server against the system's certificate authorities")
                     .arg(caFile));
            config.setCaCertificates(QSslConfiguration::systemCaCertificates());
        } else {
            config.setCaCertificates(certs);
        }
    }
    QSslConfiguration::setDefaultConfiguration(config);
}

bool ApiClient::hasSession() const
{
    return authManager && authManager->isLoggedIn();
}

void ApiClient::login(const QString &username, const QString &password, ApiCallback callback)
{
    QJsonObject data;
    data.insert("username", username);
    data.insert("password", password);
    sendPostRequest("login", data, std::move(callback));
}

void ApiClient::sendClicks(int count, ApiCallback callback)
{
    sendPostRequest("click", QJsonObject{{"count", count}}, std::move(callback));
}

void ApiClient::sendClicks(int count, const QString &syncId, qint64 syncTotal, ApiCallback callback,
                           QObject *owner)
{
    QJsonObject data{{"count", count}};
    if (!syncId.isEmpty()) {
        data.insert("sync_id", syncId);
        data.insert("sync_total", syncTotal);
    }
    QNetworkReply *reply = sendPostRequest("click", data, std::move(callback));
    quietenWith(reply, owner);
}

void ApiClient::quietenWith(QNetworkReply *reply, QObject *owner)
{
    if (owner)
        connect(owner, &QObject::destroyed, reply,
                [reply] { reply->setProperty(kQuietProperty, true); });
}

void ApiClient::exchangeGold(int clicksToExchange, ApiCallback callback)
{
    sendPostRequest(
        "exchange",
        QJsonObject{{"clicks_to_exchange", clicksToExchange}, {"request_id", newRequestId()}},
        std::move(callback), 1);
}

void ApiClient::depositToBank(int clicksAmount, ApiCallback callback)
{
    sendPostRequest("deposit",
                    QJsonObject{{"clicks_amount", clicksAmount}, {"request_id", newRequestId()}},
                    std::move(callback), 1);
}

void ApiClient::buyEffect(int effectId, ApiCallback callback, QObject *owner)
{
    quietenWith(
        sendPostRequest("buy_effect",
                        QJsonObject{{"effect_id", effectId}, {"request_id", newRequestId()}},
                        std::move(callback)),
        owner);
}

void ApiClient::fetchStats(ApiCallback callback, QObject *owner)
{
    quietenWith(sendGetRequest("stats", QJsonObject(), std::move(callback)), owner);
}

void ApiClient::fetchRanking(int limit, ApiArrayCallback callback, QObject *owner)
{
    quietenWith(sendGetRequest("ranking", QJsonObject{{"limit", limit}},
                               forwardArray(QStringLiteral("rankings"), std::move(callback))),
                owner);
}

void ApiClient::fetchEffects(ApiArrayCallback callback, QObject *owner)
{
    quietenWith(sendGetRequest("effects/list", QJsonObject(),
                               forwardArray(QStringLiteral("effects"), std::move(callback))),
                owner);
}

QString ApiClient::redactToken(QString text, const QString &token)
{
    if (token.isEmpty())
        return text;
    text.replace(token, QStringLiteral("***"));
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(token, "/"));
    if (encoded != token)
        text.replace(encoded, QStringLiteral("***"));
    return text;
}

QString ApiClient::extractErrorMessage(const QJsonObject &reply)
{
    return ApiError::refused(reply.value("message")).text();
}

QNetworkReply *ApiClient::sendPostRequest(const QString &action, const QJsonObject &data,
                                          ApiCallback callback, int resends)
{
    QUrl url(baseUrl);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("action"), action);
    url.setQuery(query);

    Outgoing out;
    out.isPost = true;
    out.isClicks = action == QLatin1String("click");
    QJsonObject body = data;
    out.token = hasSession() ? authManager->token() : QString();
    if (hasSession())
        body.insert("token", out.token);
    out.body = QJsonDocument(body).toJson();

    out.request = QNetworkRequest(url);
    out.request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    out.request.setHeader(QNetworkRequest::ContentLengthHeader, out.body.size());
    return dispatch(out, resends, std::move(callback));
}

QNetworkReply *ApiClient::sendGetRequest(const QString &action, const QJsonObject &params,
                                         ApiCallback callback)
{
    // Percent-encode every value ourselves: QUrlQuery would leave '+' and '&' ambiguous.
    auto item = [](const QString &key, const QString &value) {
        return QString::fromLatin1(QUrl::toPercentEncoding(key, "/") + '=' +
                                   QUrl::toPercentEncoding(value, "/"));
    };
    Outgoing out;
    QStringList items;
    items << item(QStringLiteral("action"), action);
    out.token = hasSession() ? authManager->token() : QString();
    if (hasSession())
        items << item(QStringLiteral("token"), out.token);
    for (auto it = params.begin(); it != params.end(); ++it)
        items << item(it.key(), queryValue(it.value()));

    QUrl url(baseUrl);
    url.setQuery(items.join(QLatin1Char('&')), QUrl::StrictMode);
    out.request = QNetworkRequest(url);
    return dispatch(out, 0, std::move(callback));
}

QNetworkReply *ApiClient::dispatch(const Outgoing &out, int resends, ApiCallback callback)
{
    QNetworkReply *reply =
        out.isPost ? manager.post(out.request, out.body) : manager.get(out.request);
    reply->setProperty(kTokenProperty, out.token);
    ++inFlight;
    if (out.isClicks) {
        reply->setProperty(kClickProperty, true);
        ++clicksInFlight;
    }
    armTimeout(reply);
    limitReplySize(reply);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, out, resends, callback = std::move(callback)]() {
                if (resends > 0 && gotNoReply(reply)) {
                    // The same bytes again: a server that knows the request id answers the
                    // repeat with the outcome of the first.
                    --inFlight;
                    if (out.isClicks)
                        --clicksInFlight;
                    reply->deleteLater();
                    dispatch(out, resends - 1, callback);
                    return;
                }
                finishReply(reply, callback, out.isPost);
            });
    return reply;
}

void ApiClient::armTimeout(QNetworkReply *reply)
{
    // The reply is the context: once it is gone the timer can no longer fire.
    QTimer::singleShot(timeoutMs, reply, [this, reply]() {
        if (!reply->isRunning())
            return;
        reply->abort();
        emit requestTimeout();
    });
}

void ApiClient::limitReplySize(QNetworkReply *reply)
{
    // Abort before the body is held in memory whole; the announced length is checked first.
    auto check = [reply](qint64 bytes) {
        if (bytes <= kMaxReplyBytes || !reply->isRunning())
            return;
        reply->setProperty(kTooLargeProperty, true);
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, check]() {
        check(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [check](qint64 received, qint64) { check(received); });
}

QString ApiClient::redirectTarget(QNetworkReply *reply)
{
    const QUrl target = reply->url().resolved(QUrl::fromEncoded(reply->rawHeader("Location")));
    QString where = target.host();
    if (where.isEmpty() || where == reply->url().host())
        where = target.toString(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                                QUrl::RemoveFragment);
    return where;
}

void ApiClient::finishReply(QNetworkReply *reply, const ApiCallback &callback, bool isPost)
{
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString reason = QString::fromUtf8(
        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
    const QNetworkReply::NetworkError error = reply->error();
    --inFlight;
    const bool wasClicks = reply->property(kClickProperty).toBool();
    if (wasClicks)
        --clicksInFlight;

    // A body that came in at once may be complete before any progress check could abort it.
    const bool tooLarge =
        reply->property(kTooLargeProperty).toBool() || body.size() > kMaxReplyBytes;
    if (error != QNetworkReply::NoError || tooLarge) {
        // Only the library's own strings can quote the request; the fixed texts stay intact.
        const QString token = reply->property(kTokenProperty).toString();
        ApiError failure;
        if (tooLarge)
            failure = ApiError::tooLarge(kMaxReplyBytes);
        else if (error == QNetworkReply::InsecureRedirectError)
            failure = ApiError::redirectRefused(status, redactToken(redirectTarget(reply), token));
        else
            failure = ApiError::transfer(error, status, redactToken(reason, token),
                                         redactToken(reply->errorString(), token), isPost);
        if (!reply->property(kQuietProperty).toBool())
            emit networkError(failure.text());
        reply->deleteLater();
        callback(false, QJsonObject(), failure);
    } else {
        const QJsonDocument doc = QJsonDocument::fromJson(body);
        reply->deleteLater();
        if (doc.isObject()) {
            const QJsonObject envelope = doc.object();
            const QJsonValue success = envelope.value("success");
            if (success.isBool() && success.toBool())
                callback(true, envelope.value("data").toObject(), ApiError());
            else
                callback(false, QJsonObject(),
                         ApiError::refused(envelope.value("message"), status));
        } else {
            callback(false, QJsonObject(), ApiError::badReply(status, body));
        }
    }
    if (wasClicks && clicksInFlight == 0)
        emit clickRequestsFinished();
}

void ApiClient::waitForClickRequests()
{
    if (clicksInFlight == 0)
        return;
    QEventLoop loop;
    connect(this, &ApiClient::clickRequestsFinished, &loop, &QEventLoop::quit);
    connect(this, &ApiClient::waitStopped, &loop, &QEventLoop::quit);
    // Every request ends by its own timeout; this is only a backstop.
    QTimer::singleShot(timeoutMs + 2000, &loop, &QEventLoop::quit);
    loop.exec();
}

void ApiClient::stopWaiting()
{
    emit waitStopped();
}
