#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

#include <functional>

class AuthManager;
class QNetworkReply;

using ApiCallback =
    std::function<void(bool success, const QJsonObject &data, const QString &error)>;
using ApiArrayCallback =
    std::function<void(bool success, const QJsonArray &data, const QString &error)>;

// The one client of the game server. Every operation returns at once; its callback runs exactly
// once, later, on the GUI thread.
class ApiClient : public QObject
{
    Q_OBJECT

public:
    explicit ApiClient(QObject *parent = nullptr);
    ~ApiClient() override;

    void setAuthManager(AuthManager *auth);

    // Process-wide TLS default; call once before the first request.
    static void configureSsl();

    void login(const QString &username, const QString &password, ApiCallback callback);
    void sendClicks(int count, ApiCallback callback);
    // The same, made safe to repeat: `syncTotal` counts every click of the sync session `syncId`
    // up to and including this batch, so a server that knows these members credits a batch that
    // is sent again (after a lost reply) only once. Other servers ignore them.
    void sendClicks(int count, const QString &syncId, qint64 syncTotal, ApiCallback callback);
    void exchangeGold(int clicksToExchange, ApiCallback callback);
    void depositToBank(int clicksAmount, ApiCallback callback);
    void buyEffect(int effectId, ApiCallback callback);
    void fetchStats(ApiCallback callback);
    void fetchRanking(int limit, ApiArrayCallback callback);
    void fetchEffects(ApiArrayCallback callback);

    static QString extractErrorMessage(const QJsonObject &reply);
    // Error strings of the network library may quote the request URL, token included; the
    // token must never reach the screen.
    static QString redactToken(QString text, const QString &token);

    // The endpoint in use: TAPTEMPEST_SERVER_URL from the environment when it is an absolute
    // http(s) URL, else the built-in one.
    QString endpoint() const { return baseUrl; }
    static QString defaultEndpoint();
    int timeout() const { return timeoutMs; }
    // A reply body beyond this is aborted and fails; real replies stay far below it.
    static constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;

    // Requests sent and not yet completed, all of them and the click batches among them.
    int requestsInFlight() const { return inFlight; }
    int clickRequestsInFlight() const { return clicksInFlight; }
    // Runs the event loop until every click batch sent has completed (each ends by its timeout
    // at the latest), so that the program does not end while clicks are on their way.
    void waitForClickRequests();

signals:
    void networkError(const QString &errorMessage);
    void requestTimeout();
    void clickRequestsFinished();

private:
    void sendPostRequest(const QString &action, const QJsonObject &data, ApiCallback callback);
    void sendGetRequest(const QString &action, const QJsonObject &params, ApiCallback callback);
    void handleResponse(QNetworkReply *reply, ApiCallback callback);
    void handleGetResponse(QNetworkReply *reply, ApiCallback callback);
    void finishReply(QNetworkReply *reply, const ApiCallback &callback, bool isPost);
    void armTimeout(QNetworkReply *reply);
    void limitReplySize(QNetworkReply *reply);
    static QString redirectRefusal(QNetworkReply *reply, int status);
    bool hasSession() const;

    QNetworkAccessManager manager;
    AuthManager *authManager = nullptr;
    QString baseUrl;
    int timeoutMs = 10000;
    int inFlight = 0;
    int clicksInFlight = 0;
};
