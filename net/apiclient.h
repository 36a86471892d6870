#pragma once

#include "apierror.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QString>

#include <functional>

class AuthManager;
class QNetworkReply;

// On failure `error` says why; callers that only show it may take it as a QString.
using ApiCallback =
    std::function<void(bool success, const QJsonObject &data, const ApiError &error)>;
using ApiArrayCallback =
    std::function<void(bool success, const QJsonArray &data, const ApiError &error)>;

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
    // A failed batch is broadcast through networkError only while `owner` (when given) exists:
    // the reply of a closed window's batch must not reach whatever window opened since.
    void sendClicks(int count, const QString &syncId, qint64 syncTotal, ApiCallback callback,
                    QObject *owner = nullptr);
    // Player actions that spend: each carries a fresh `request_id`, so that a server that knows it
    // applies the action once however often it arrives. Exchange and deposit are sent once more,
    // with the same id and body, when the first attempt got no reply at all.
    void exchangeGold(int clicksToExchange, ApiCallback callback);
    void depositToBank(int clicksAmount, ApiCallback callback);
    void buyEffect(int effectId, ApiCallback callback, QObject *owner = nullptr);
    // Reads, and the shop's purchase: a failure is broadcast through networkError only while
    // `owner` (when given) exists, so that what a closed window asked for reaches no window
    // opened since.
    void fetchStats(ApiCallback callback, QObject *owner = nullptr);
    void fetchRanking(int limit, ApiArrayCallback callback, QObject *owner = nullptr);
    void fetchEffects(ApiArrayCallback callback, QObject *owner = nullptr);

    static QString extractErrorMessage(const QJsonObject &reply);
    // Error strings of the network library may quote the request URL, token included; the
    // token must never reach the screen.
    static QString redactToken(QString text, const QString &token);

    // The endpoint in use: TAPTEMPEST_SERVER_URL from the environment when it is an absolute
    // http(s) URL, else the built-in one.
    QString endpoint() const { return baseUrl; }
    static QString defaultEndpoint();
    int timeout() const { return timeoutMs; }
    // Milliseconds a request may take before it is aborted; applies to requests sent from now.
    void setTimeout(int milliseconds) { timeoutMs = milliseconds; }
    // A reply body beyond this is aborted and fails; real replies stay far below it.
    static constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;

    // Requests sent and not yet completed, all of them and the click batches among them.
    int requestsInFlight() const { return inFlight; }
    int clickRequestsInFlight() const { return clicksInFlight; }
    // Runs the event loop until every click batch sent has completed (each ends by its timeout
    // at the latest), so that the program does not end while clicks are on their way.
    void waitForClickRequests();
    // Ends a running waitForClickRequests() now.
    void stopWaiting();

signals:
    void networkError(const QString &errorMessage);
    void requestTimeout();
    void clickRequestsFinished();
    void waitStopped();

private:
    QNetworkReply *sendPostRequest(const QString &action, const QJsonObject &data,
                                   ApiCallback callback, int resends = 0);
    QNetworkReply *sendGetRequest(const QString &action, const QJsonObject &params,
                                  ApiCallback callback);
    static void quietenWith(QNetworkReply *reply, QObject *owner);
    // One request as built by the two above; sent again `resends` times while no reply comes.
    struct Outgoing
    {
        QNetworkRequest request;
        QByteArray body;
        QString token;
        bool isPost = false;
        bool isClicks = false;
    };
    QNetworkReply *dispatch(const Outgoing &out, int resends, ApiCallback callback);
    void finishReply(QNetworkReply *reply, const ApiCallback &callback, bool isPost);
    void armTimeout(QNetworkReply *reply);
    void limitReplySize(QNetworkReply *reply);
    static QString redirectTarget(QNetworkReply *reply);
    bool hasSession() const;

    QNetworkAccessManager manager;
    AuthManager *authManager = nullptr;
    QString baseUrl;
    int timeoutMs = 10000;
    int inFlight = 0;
    int clicksInFlight = 0;
};
