#include "net/apiclient.h"
#include "net/authmanager.h"
#include "support/scriptedclient.h"
#include "support/scriptedpeer.h"
#include "support/testenv.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QThread>
#include <QUuid>

#include <memory>

namespace {

// What one request's callback saw, and in which order relative to networkError.
struct Outcome
{
    int calls = 0;
    bool success = false;
    QJsonObject data;
    QJsonArray array;
    QString error;
    ApiError::Kind kind = ApiError::Kind::None;
    int status = -1;
    QString serverMessage;
    bool noReply = false;
    bool onGuiThread = false;
    int networkErrorsBefore = -1;
};

const QString kToken = QStringLiteral("tok+en/1&2");

// A redirect answer pointing at `location`.
ScriptedResponse redirect(int status, const QString &location)
{
    return ScriptedResponse::garbage("HTTP/1.1 " + QByteArray::number(status) +
                                     " Redirect\r\nLocation: " + location.toUtf8() +
                                     "\r\nContent-Length: 0\r\n\r\n");
}

} // namespace

class TestApiClient : public QObject, private ScriptedClient // peer, auth and api
{
    Q_OBJECT

    std::unique_ptr<QSignalSpy> errorSpy;
    std::unique_ptr<ApiClient> &client = api;

private:
    void makeClient(const QString &url)
    {
        qputenv("TAPTEMPEST_SERVER_URL", url.toUtf8());
        client = std::make_unique<ApiClient>();
        client->setAuthManager(auth.get());
        errorSpy = std::make_unique<QSignalSpy>(client.get(), &ApiClient::networkError);
    }

    void logIn()
    {
        auth->handleLoginResponse(QJsonObject{{"username", "alice"}, {"token", kToken}});
    }

    static void keep(Outcome &out, const ApiError &error)
    {
        out.error = error.text();
        out.kind = error.kind();
        out.status = error.httpStatus();
        out.serverMessage = error.serverMessage();
        out.noReply = error.isNoReply();
    }

    ApiCallback record(Outcome &out)
    {
        return [&out, this](bool success, const QJsonObject &data, const ApiError &error) {
            ++out.calls;
            out.success = success;
            out.data = data;
            keep(out, error);
            out.onGuiThread = QThread::currentThread() == qApp->thread();
            out.networkErrorsBefore = errorSpy->count();
        };
    }

    ApiArrayCallback recordArray(Outcome &out)
    {
        return [&out](bool success, const QJsonArray &data, const ApiError &error) {
            ++out.calls;
            out.success = success;
            out.array = data;
            keep(out, error);
        };
    }

    // Sends one POST (click) or GET (stats) request and waits for its callback.
    Outcome roundTrip(bool post)
    {
        Outcome out;
        if (post)
            client->sendClicks(3, record(out));
        else
            client->fetchStats(record(out));
        if (!QTest::qWaitFor([&] { return out.calls > 0; }, 15000))
            qWarning("no callback");
        return out;
    }

    // Sends the request of `action` (logged in) and waits for its callback.
    Outcome send(const QString &action)
    {
        Outcome out;
        if (action == "login")
            client->login("alice", "secret", record(out));
        else if (action == "click")
            client->sendClicks(9, record(out));
        else if (action == "exchange")
            client->exchangeGold(100, record(out));
        else if (action == "deposit")
            client->depositToBank(5, record(out));
        else
            client->fetchStats(record(out));
        if (!QTest::qWaitFor([&] { return out.calls > 0; }, 15000))
            qWarning("no callback");
        return out;
    }

private slots:
    void init()
    {
        qunsetenv("TAPTEMPEST_CA_FILE");
        ApiClient::configureSsl();
        QVERIFY(ScriptedClient::start());
        errorSpy = std::make_unique<QSignalSpy>(client.get(), &ApiClient::networkError);
    }

    void cleanup()
    {
        errorSpy.reset();
        ScriptedClient::stop();
    }

    void endpointComesFromEnvironment()
    {
        QCOMPARE(client->endpoint(), peer->url());
        // Each refusal is said once, in the "taptempest.net" category.
        for (const char *bad : {"not a url", "ftp://127.0.0.1/api/index.php", "/api/index.php"}) {
            qputenv("TAPTEMPEST_SERVER_URL", bad);
            QTest::ignoreMessage(QtWarningMsg,
                                 qPrintable(QStringLiteral("TAPTEMPEST_SERVER_URL \"%1\" is not an "
                                                           "absolute http(s) URL; using %2")
                                                .arg(bad, ApiClient::defaultEndpoint())));
            QCOMPARE(ApiClient().endpoint(), ApiClient::defaultEndpoint());
        }
    }

    void postWireForm()
    {
        Outcome anonymous;
        client->login("bob", "  secret  ", record(anonymous));
        QTRY_COMPARE(anonymous.calls, 1);

        logIn();
        Outcome withSession;
        client->exchangeGold(300, record(withSession));
        QTRY_COMPARE(withSession.calls, 1);

        QCOMPARE(peer->requests.size(), 2);
        const RecordedRequest login = peer->requests[0];
        QCOMPARE(login.method, QByteArray("POST"));
        QCOMPARE(login.target, QByteArray("/api/index.php?action=login"));
        QCOMPARE(login.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(login.headers.value("content-length").toInt(), login.body.size());
        QCOMPARE(login.json(), (QJsonObject{{"username", "bob"}, {"password", "  secret  "}}));

        const RecordedRequest exchange = peer->requests[1];
        QCOMPARE(exchange.target, QByteArray("/api/index.php?action=exchange"));
        QJsonObject body = exchange.json();
        QVERIFY(!QUuid::fromString(body.take("request_id").toString()).isNull());
        QCOMPARE(body, (QJsonObject{{"clicks_to_exchange", 300}, {"token", kToken}}));
    }

    void everyPostAction_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("field");
        QTest::newRow("click") << "click"
                               << "count";
        QTest::newRow("exchange") << "exchange"
                                  << "clicks_to_exchange";
        QTest::newRow("deposit") << "deposit"
                                 << "clicks_amount";
        QTest::newRow("buy_effect") << "buy_effect"
                                    << "effect_id";
    }

    void everyPostAction()
    {
        QFETCH(QString, action);
        QFETCH(QString, field);
        logIn();
        Outcome out;
        if (action == "click")
            client->sendClicks(7, record(out));
        else if (action == "exchange")
            client->exchangeGold(7, record(out));
        else if (action == "deposit")
            client->depositToBank(7, record(out));
        else
            client->buyEffect(7, record(out));
        QTRY_COMPARE(out.calls, 1);
        QCOMPARE(peer->requests.size(), 1);
        QCOMPARE(peer->requests[0].action(), action);
        // Spending actions carry a request id besides their fields; a click batch does not.
        QJsonObject body = peer->requests[0].json();
        const QString requestId = body.take("request_id").toString();
        QCOMPARE(!QUuid::fromString(requestId).isNull(), action != "click");
        QCOMPARE(body, (QJsonObject{{field, 7}, {"token", kToken}}));
    }

    void clickBatchesCanBeMadeRepeatable()
    {
        logIn();
        Outcome a, b;
        client->sendClicks(5, "window-1", 25, record(a));
        QTRY_COMPARE(a.calls, 1);
        client->sendClicks(5, QString(), 25, record(b));
        QTRY_COMPARE(b.calls, 1);
        QCOMPARE(
            peer->requests[0].json(),
            (QJsonObject{
                {"count", 5}, {"sync_id", "window-1"}, {"sync_total", 25}, {"token", kToken}}));
        // Without a sync session the batch is the plain one.
        QCOMPARE(peer->requests[1].json(), (QJsonObject{{"count", 5}, {"token", kToken}}));
    }

    void getWireForm()
    {
        Outcome a, b, c, d;
        client->fetchRanking(100, recordArray(a));
        QTRY_COMPARE(a.calls, 1);
        logIn();
        // One after the other, so that they reach the peer in this order.
        client->fetchRanking(100, recordArray(b));
        QTRY_COMPARE(b.calls, 1);
        client->fetchStats(record(c));
        QTRY_COMPARE(c.calls, 1);
        client->fetchEffects(recordArray(d));
        QTRY_COMPARE(d.calls, 1);

        QCOMPARE(peer->requests.size(), 4);
        for (const RecordedRequest &r : peer->requests) {
            QCOMPARE(r.method, QByteArray("GET"));
            QCOMPARE(r.path, QByteArray("/api/index.php"));
            QVERIFY(r.body.isEmpty());
        }
        QCOMPARE(peer->requests[0].target, QByteArray("/api/index.php?action=ranking&limit=100"));
        // The token is encoded so that '+' and '&' survive the query.
        QCOMPARE(peer->requests[1].target,
                 QByteArray("/api/index.php?action=ranking&token=tok%2Ben/1%262&limit=100"));
        QCOMPARE(peer->requests[2].target,
                 QByteArray("/api/index.php?action=stats&token=tok%2Ben/1%262"));
        QCOMPARE(peer->requests[3].target,
                 QByteArray("/api/index.php?action=effects/list&token=tok%2Ben/1%262"));
        QCOMPARE(peer->requests[3].action(), QString("effects/list"));
        QCOMPARE(peer->requests[2].queryValue("token"), kToken);
    }

    void tokenFollowsTheSession()
    {
        logIn();
        Outcome a, b;
        peer->setFallback(ScriptedResponse::noAnswer());
        // Built before the logout: the old token goes with it although it is sent on later.
        client->sendClicks(1, record(a));
        auth->logout();
        QTRY_COMPARE(peer->heldCount(), 1);
        client->sendClicks(2, record(b));
        QTRY_COMPARE(peer->heldCount(), 2);
        QCOMPARE(peer->requests[0].json().value("token").toString(), kToken);
        QVERIFY(!peer->requests[1].json().contains("token"));
        peer->releaseHeld(ScriptedResponse::ok());
        QTRY_VERIFY(a.calls == 1 && b.calls == 1);
    }

    void httpErrorStatuses_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        QTest::addColumn<bool>("post");
        QTest::addColumn<QString>("expected");
        for (bool post : {true, false}) {
            const char *m = post ? "POST " : "GET ";
            QTest::newRow(QByteArray(m) + "401")
                << 401 << QByteArray("Unauthorized") << post << "需要登录或Token无效 (401)";
            QTest::newRow(QByteArray(m) + "403")
                << 403 << QByteArray("Forbidden") << post << "访问被拒绝 (403)";
            QTest::newRow(QByteArray(m) + "404")
                << 404 << QByteArray("Not Found") << post << "请求的资源不存在 (404)";
            QTest::newRow(QByteArray(m) + "418") << 418 << QByteArray("I'm a teapot") << post
                                                 << "客户端错误 (HTTP 418) I'm a teapot";
            QTest::newRow(QByteArray(m) + "500")
                << 500 << QByteArray("Internal Server Error") << post
                << "服务器错误 (HTTP 500) Internal Server Error";
            QTest::newRow(QByteArray(m) + "503") << 503 << QByteArray("Service Unavailable") << post
                                                 << "服务器错误 (HTTP 503) Service Unavailable";
        }
    }

    void httpErrorStatuses()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        QFETCH(bool, post);
        QFETCH(QString, expected);
        // A JSON envelope in an error reply is never read.
        ScriptedResponse r =
            ScriptedResponse::json(QJsonObject{{"success", false}, {"message", "ignored"}}, status);
        r.reason = reason;
        peer->setFallback(r);
        const Outcome out = roundTrip(post);
        QCOMPARE(out.calls, 1);
        QVERIFY(!out.success);
        QVERIFY(out.data.isEmpty());
        QCOMPARE(out.error, expected);
        // Decided on by kind and status, never by the text.
        QCOMPARE(out.kind, ApiError::Kind::HttpStatus);
        QCOMPARE(out.status, status);
        QCOMPARE(out.serverMessage, QString());
        QVERIFY(!out.noReply);
        QCOMPARE(errorSpy->count(), 1);
        QCOMPARE(errorSpy->at(0).at(0).toString(), expected);
        QCOMPARE(out.networkErrorsBefore, 1);
        QVERIFY(out.onGuiThread);
    }

    void closedConnection()
    {
        peer->setFallback(ScriptedResponse::close());
        const Outcome post = roundTrip(true);
        QCOMPARE(post.error, QString("服务器已关闭连接"));
        const Outcome get = roundTrip(false);
        QVERIFY2(get.error.startsWith("网络错误 (2): "), qPrintable(get.error));
        // Whatever the text, both got no reply at all.
        QCOMPARE(post.kind, ApiError::Kind::NoReply);
        QCOMPARE(get.kind, ApiError::Kind::NoReply);
        QVERIFY(post.noReply && get.noReply);
        QCOMPARE(errorSpy->count(), 2);
        QCOMPARE(post.networkErrorsBefore, 1);
        // What reached the peer: the network library itself sends a POST once more when the
        // connection closes before any reply (so the server must know repeats: batches carry
        // sync ids, spending carries request ids); the client adds no attempt of its own.
        QCOMPARE(peer->requestsFor("click").size(), 2);
        QCOMPARE(peer->requestsFor("stats").size(), 1);
        QCOMPARE(peer->requests.size(), 3);
    }

    // The status line came, then the connection closed: the server answered, so this is a
    // failed request ("请求失败 (…)"), not a lost one, and it is not sent again.
    void replyCutAfterItsHeaders_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("POST exchange") << "exchange";
        QTest::newRow("GET stats") << "stats";
    }

    void replyCutAfterItsHeaders()
    {
        QFETCH(QString, action);
        logIn();
        peer->setFallback(ScriptedResponse::garbage("HTTP/1.1 200 OK\r\nContent-Type: "
                                                    "application/json\r\nContent-Length: "
                                                    "50\r\n\r\n{\"success\":"));
        const Outcome out = send(action);
        QCOMPARE(out.calls, 1);
        QVERIFY(!out.success);
        QVERIFY2(out.error.startsWith("请求失败 (") && out.error.endsWith(")") &&
                     out.error.size() > QString("请求失败 ()").size(),
                 qPrintable(out.error));
        QVERIFY(!out.noReply);
        QCOMPARE(out.kind, ApiError::Kind::Transfer);
        QCOMPARE(errorSpy->count(), 1);
        QCOMPARE(errorSpy->at(0).at(0).toString(), out.error);
        QTest::qWait(100);
        QCOMPARE(peer->requestsFor(action).size(), 1);
        QCOMPARE(client->requestsInFlight(), 0);
    }

    // A name that cannot be resolved. The name goes to a loopback SOCKS5 proxy (nothing is
    // looked up outside), which reports the host unreachable as a resolver would.
    void serverNotFound()
    {
        QTcpServer socks;
        QVERIFY(socks.listen(QHostAddress::LocalHost));
        QByteArrayList names;
        connect(&socks, &QTcpServer::newConnection, &socks, [&socks, &names] {
            QTcpSocket *socket = socks.nextPendingConnection();
            auto greeted = std::make_shared<bool>(false);
            connect(socket, &QTcpSocket::readyRead, socket, [socket, greeted, &names] {
                if (!*greeted) {
                    socket->read(2 + quint8(socket->peek(2).at(1)));
                    socket->write(QByteArray("\x05\x00", 2)); // no authentication
                    *greeted = true;
                    return;
                }
                const QByteArray request = socket->readAll(); // CONNECT, by domain name
                if (request.size() > 5 && request.at(3) == 3)
                    names << request.mid(5, quint8(request.at(4)));
                socket->write(QByteArray("\x05\x04\x00\x01\0\0\0\0\0\0", 10));
                socket->disconnectFromHost();
            });
        });
        const QNetworkProxy previous = QNetworkProxy::applicationProxy();
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::Socks5Proxy, "127.0.0.1", socks.serverPort()));
        makeClient("http://game-server.invalid:8080/api/index.php");
        Outcome post = roundTrip(true);
        Outcome get = roundTrip(false);
        QNetworkProxy::setApplicationProxy(previous);
        QCOMPARE(post.error, QString("DNS解析失败，无法找到服务器"));
        QCOMPARE(get.error, QString("DNS解析失败，无法找到服务器"));
        QCOMPARE(errorSpy->count(), 2);
        QVERIFY(!names.isEmpty());
        QCOMPARE(names.first(), QByteArray("game-server.invalid"));
        QVERIFY(peer->requests.isEmpty());
    }

    void refusedConnection()
    {
        makeClient(
            QStringLiteral("http://127.0.0.1:%1/api/index.php").arg(ScriptedPeer::closedPort()));
        for (bool post : {true, false}) {
            const Outcome out = roundTrip(post);
            QCOMPARE(out.error, QString("服务器拒绝连接，请检查服务器是否在线"));
            QCOMPARE(out.kind, ApiError::Kind::Unreachable);
            QCOMPARE(out.status, 0);
        }
        QCOMPARE(errorSpy->count(), 2);
    }

    void malformedHttpIsAFailedRequest()
    {
        logIn();
        peer->setFallback(ScriptedResponse::garbage("NOT HTTP AT ALL\r\n\r\n"));
        const Outcome out = roundTrip(false);
        QVERIFY(!out.success);
        QVERIFY2(!out.error.isEmpty(), "a protocol failure must have a text");
        QCOMPARE(errorSpy->count(), 1);
        QVERIFY2(!out.error.contains(kToken), qPrintable(out.error));
    }

    void envelopes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QJsonObject>("data");
        const QJsonObject empty;
        QTest::newRow("success with data") << QByteArray(R"({"success":true,"data":{"gold":3}})")
                                           << true << QString() << QJsonObject{{"gold", 3}};
        QTest::newRow("success without data")
            << QByteArray(R"({"success":true})") << true << QString() << empty;
        QTest::newRow("data not an object")
            << QByteArray(R"({"success":true,"data":[1]})") << true << QString() << empty;
        QTest::newRow("refusal with message")
            << QByteArray(R"({"success":false,"message":"金币不足","data":{"gold":1}})") << false
            << "金币不足" << empty;
        QTest::newRow("refusal without message")
            << QByteArray(R"({"success":false})") << false << "未知错误" << empty;
        QTest::newRow("empty message stays empty")
            << QByteArray(R"({"success":false,"message":""})") << false << "" << empty;
        QTest::newRow("message not a string")
            << QByteArray(R"({"success":false,"message":5})") << false << "未知错误" << empty;
        QTest::newRow("success as text") << QByteArray(R"({"success":"true","data":{"gold":3}})")
                                         << false << "未知错误" << empty;
        QTest::newRow("success as number")
            << QByteArray(R"({"success":1,"message":"no"})") << false << "no" << empty;
        QTest::newRow("plain text")
            << QByteArray("ok") << false << "服务器响应格式错误 (HTTP 200): ok" << empty;
        QTest::newRow("empty body")
            << QByteArray() << false << "服务器响应格式错误 (HTTP 200): " << empty;
        QTest::newRow("json array")
            << QByteArray("[1,2]") << false << "服务器响应格式错误 (HTTP 200): [1,2]" << empty;
        const QByteArray longBody = QByteArray(150, 'a') + QByteArray(150, 'b');
        QTest::newRow("long body is cut")
            << longBody << false
            << "服务器响应格式错误 (HTTP 200): " + QString(150, 'a') + QString(50, 'b') << empty;
    }

    void envelopes()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, success);
        QFETCH(QString, error);
        QFETCH(QJsonObject, data);
        peer->setFallback(ScriptedResponse::raw(200, "OK", body));
        for (bool post : {true, false}) {
            const Outcome out = roundTrip(post);
            QCOMPARE(out.calls, 1);
            QCOMPARE(out.success, success);
            QCOMPARE(out.error, error);
            QCOMPARE(out.data, data);
            if (success)
                QCOMPARE(out.kind, ApiError::Kind::None);
            else if (error.startsWith("服务器响应格式错误"))
                QCOMPARE(out.kind, ApiError::Kind::BadReply);
            else
                QCOMPARE(out.kind, ApiError::Kind::Refused);
            QCOMPARE(out.status, success ? 0 : 200);
            QVERIFY(!out.noReply);
        }
        // Only failed transfers are broadcast.
        QCOMPARE(errorSpy->count(), 0);
    }

    void arrays()
    {
        peer->enqueue(ScriptedResponse::ok(
            QJsonObject{{"rankings", QJsonArray{QJsonObject{{"username", "a"}}}}}));
        peer->enqueue(ScriptedResponse::ok(QJsonObject{{"other", 1}}));
        peer->enqueue(ScriptedResponse::ok(QJsonObject{{"effects", "not an array"}}));
        peer->enqueue(ScriptedResponse::fail("拒绝"));
        Outcome a, b, c, d;
        client->fetchRanking(5, recordArray(a));
        QTRY_COMPARE(a.calls, 1);
        client->fetchRanking(5, recordArray(b));
        QTRY_COMPARE(b.calls, 1);
        client->fetchEffects(recordArray(c));
        QTRY_COMPARE(c.calls, 1);
        client->fetchEffects(recordArray(d));
        QTRY_COMPARE(d.calls, 1);
        QVERIFY(a.success);
        QCOMPARE(a.array.size(), 1);
        QVERIFY(b.success);
        QVERIFY(b.array.isEmpty());
        QVERIFY(b.error.isEmpty());
        QVERIFY(c.success);
        QVERIFY(c.array.isEmpty());
        QVERIFY(!d.success);
        QCOMPARE(d.error, QString("拒绝"));
    }

    void httpsVerification()
    {
        ScriptedPeer tlsPeer(true);
        QVERIFY(tlsPeer.start());
        makeClient(tlsPeer.url());

        // Default: no verification, a self-signed server is accepted.
        QVERIFY(roundTrip(true).success);

        // Pinned to the server's own certificate.
        qputenv("TAPTEMPEST_CA_FILE", ScriptedPeer::certificateFile().toUtf8());
        ApiClient::configureSsl();
        makeClient(tlsPeer.url());
        QVERIFY(roundTrip(false).success);

        // A CA file that cannot be read must not switch verification off.
        qputenv("TAPTEMPEST_CA_FILE", "/nonexistent/ca.pem");
        ApiClient::configureSsl();
        makeClient(tlsPeer.url());
        Outcome unreadable = roundTrip(true);
        QVERIFY(!unreadable.success);
        QVERIFY2(unreadable.error.startsWith("网络错误 ("), qPrintable(unreadable.error));

        QTemporaryFile noCert;
        QVERIFY(noCert.open());
        noCert.write("this is not a certificate\n");
        noCert.flush();
        qputenv("TAPTEMPEST_CA_FILE", noCert.fileName().toUtf8());
        ApiClient::configureSsl();
        makeClient(tlsPeer.url());
        QVERIFY(!roundTrip(false).success);
        QCOMPARE(errorSpy->count(), 1);
    }

    void tokenNeverShownInErrors()
    {
        // Only the library's strings are redacted; a short token must not eat "(401)".
        auth->handleLoginResponse(QJsonObject{{"username", "x"}, {"token", "40"}});
        peer->setFallback(ScriptedResponse::raw(401, "Unauthorized", ""));
        QCOMPARE(roundTrip(false).error, QString("需要登录或Token无效 (401)"));

        const QString url = "Error transferring https://h/api/index.php?action=stats&token=" +
                            QString::fromLatin1(QUrl::toPercentEncoding(kToken, "/")) +
                            " - server replied: " + kToken;
        const QString redacted = ApiClient::redactToken(url, kToken);
        QCOMPARE(redacted, QString("Error transferring https://h/api/index.php?action=stats&"
                                   "token=*** - server replied: ***"));
        QCOMPARE(ApiClient::redactToken("no token here", QString()), QString("no token here"));

        // A real text of the network library about the very URL the client sent: the token
        // stands in it as it went over the wire, which the test reads off the request.
        logIn();
        peer->setFallback(ScriptedResponse::raw(418, "I'm a teapot", ""));
        roundTrip(false);
        const QByteArray target = peer->requests.last().target;
        const int at = target.indexOf("token=");
        QVERIFY(at > 0);
        const QString sent = QString::fromLatin1(target.mid(at + 6).split('&').first());
        QVERIFY(!sent.isEmpty());
        QNetworkAccessManager library;
        QNetworkReply *reply = library.get(QNetworkRequest(
            QUrl::fromEncoded("http://127.0.0.1:" + QByteArray::number(peer->port()) + target)));
        QTRY_VERIFY(reply->isFinished());
        const QString libraryText = reply->errorString();
        reply->deleteLater();
        QVERIFY2(libraryText.contains(sent), qPrintable(libraryText));
        const QString shown = ApiClient::redactToken(libraryText, kToken);
        QVERIFY2(!shown.contains(sent) && !shown.contains(kToken), qPrintable(shown));
        QVERIFY2(shown.contains("token=***"), qPrintable(shown));
    }

    void timeout()
    {
        QCOMPARE(client->timeout(), 10000);
        QSignalSpy timeoutSpy(client.get(), &ApiClient::requestTimeout);
        // Answered at once and sent first: its timer would run out before the stalled one's.
        peer->enqueue(ScriptedResponse::ok());
        const Outcome answered = roundTrip(false);
        QVERIFY(answered.success);
        peer->setFallback(ScriptedResponse::noAnswer());
        // Sent before the change: keeps the 10-s timeout.
        Outcome early;
        client->fetchStats(record(early));
        QTRY_COMPARE(peer->heldCount(), 1);
        client->setTimeout(600);
        Outcome out;
        int timeoutsAtCallback = -1;
        QElapsedTimer clock;
        clock.start();
        qint64 calledAt = -1;
        client->fetchStats([&](bool success, const QJsonObject &, const ApiError &error) {
            ++out.calls;
            calledAt = clock.elapsed();
            out.success = success;
            keep(out, error);
            out.networkErrorsBefore = errorSpy->count();
            timeoutsAtCallback = timeoutSpy.count();
        });
        QTRY_COMPARE_WITH_TIMEOUT(out.calls, 1, 5000);
        QVERIFY2(calledAt >= 600, qPrintable(QString::number(calledAt)));
        QCOMPARE(early.calls, 0);
        QCOMPARE(out.error, QString("请求超时，请检查网络连接"));
        QCOMPARE(out.kind, ApiError::Kind::Timeout);
        QVERIFY(out.noReply);
        QCOMPARE(out.networkErrorsBefore, 1);
        QCOMPARE(timeoutsAtCallback, 0);
        QCOMPARE(timeoutSpy.count(), 1);
        QCOMPARE(client->requestsInFlight(), 1);

        // A late answer reaches nobody.
        peer->releaseHeld(ScriptedResponse::ok());
        QTRY_COMPARE(early.calls, 1);
        QVERIFY(early.success);
        QCOMPARE(out.calls, 1);
        QCOMPARE(timeoutSpy.count(), 1);
    }

    void waitingForClickBatchesOnly()
    {
        peer->setFallback(ScriptedResponse::noAnswer());
        Outcome clicks, stats;
        client->sendClicks(4, record(clicks));
        client->fetchStats(record(stats));
        QTRY_COMPARE(peer->heldCount(), 2);
        QCOMPARE(client->requestsInFlight(), 2);
        QCOMPARE(client->clickRequestsInFlight(), 1);
        QTimer::singleShot(100, peer.get(), [this] { peer->releaseHeld(ScriptedResponse::ok()); });
        client->waitForClickRequests();
        QCOMPARE(clicks.calls, 1);
        QVERIFY(clicks.success);
        QCOMPARE(client->clickRequestsInFlight(), 0);
        // Nothing to wait for: returns at once although the statistics are still out.
        client->fetchStats(record(stats));
        QElapsedTimer timer;
        timer.start();
        client->waitForClickRequests();
        QVERIFY(timer.elapsed() < 1000);
    }

    void spendingWithoutAReplyIsSentOnceMore()
    {
        logIn();
        QSignalSpy timeoutSpy(client.get(), &ApiClient::requestTimeout);
        // The first exchange gets no answer; its repeat does.
        int exchanges = 0;
        peer->setHandler([&](const RecordedRequest &r) {
            if (r.action() == "exchange" && ++exchanges == 1)
                return ScriptedResponse::noAnswer();
            if (r.action() == "deposit")
                return ScriptedResponse::close();
            if (r.action() == "buy_effect")
                return ScriptedResponse::raw(400, "Bad Request", "");
            return ScriptedResponse::ok(QJsonObject{{"new_gold", 3}});
        });
        Outcome exchange;
        client->exchangeGold(300, record(exchange));
        QTRY_COMPARE_WITH_TIMEOUT(exchange.calls, 1, 15000);
        QVERIFY(exchange.success);
        QCOMPARE(exchange.data.value("new_gold").toInt(), 3);
        QCOMPARE(timeoutSpy.count(), 1);
        // The lost attempt is not reported: it was not the outcome.
        QCOMPARE(errorSpy->count(), 0);
        const QList<RecordedRequest> sent = peer->requestsFor("exchange");
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[1].body, sent[0].body);

        // A connection that always closes: reported once, after the repeat, all with one id.
        Outcome deposit;
        client->depositToBank(5, record(deposit));
        QTRY_COMPARE(deposit.calls, 1);
        QCOMPARE(deposit.error, QString("服务器已关闭连接"));
        QVERIFY(deposit.noReply);
        QCOMPARE(deposit.kind, ApiError::Kind::NoReply);
        QCOMPARE(errorSpy->count(), 1);
        const QList<RecordedRequest> deposits = peer->requestsFor("deposit");
        QVERIFY2(deposits.size() >= 2, qPrintable(QString::number(deposits.size())));
        for (const RecordedRequest &r : deposits)
            QCOMPARE(r.json().value("request_id"), deposits[0].json().value("request_id"));
        QTest::qWait(200);
        QCOMPARE(deposit.calls, 1);

        // A refusal is an answer: never repeated.
        Outcome buy;
        client->buyEffect(2, record(buy));
        QTRY_COMPARE(buy.calls, 1);
        QVERIFY(!buy.noReply);
        QCOMPARE(buy.kind, ApiError::Kind::HttpStatus);
        QCOMPARE(buy.status, 400);
        QCOMPARE(peer->requestsFor("buy_effect").size(), 1);
        QCOMPARE(client->requestsInFlight(), 0);
    }

    void closedWindowsBatchFailsQuietly()
    {
        logIn();
        peer->setFallback(ScriptedResponse::noAnswer());
        auto owner = std::make_unique<QObject>();
        Outcome kept, orphaned;
        client->sendClicks(3, "s", 3, record(kept), owner.get());
        QTRY_COMPARE(peer->heldCount(), 1);
        peer->releaseHeld(ScriptedResponse::raw(503, "Service Unavailable", ""));
        QTRY_COMPARE(kept.calls, 1);
        QCOMPARE(errorSpy->count(), 1);

        client->sendClicks(4, "s", 7, record(orphaned), owner.get());
        QTRY_COMPARE(peer->heldCount(), 1);
        owner.reset();
        peer->releaseHeld(ScriptedResponse::raw(503, "Service Unavailable", ""));
        // Its callback still learns the outcome; nobody else hears of it.
        QTRY_COMPARE(orphaned.calls, 1);
        QVERIFY(!orphaned.success);
        QCOMPARE(errorSpy->count(), 1);
    }

    void redirectsToAnotherOriginAreRefused_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("host");
        QTest::newRow("307 login") << 307 << "login"
                                   << "127.0.0.2";
        QTest::newRow("308 login") << 308 << "login"
                                   << "127.0.0.2";
        QTest::newRow("307 click") << 307 << "click"
                                   << "127.0.0.2";
        QTest::newRow("308 exchange") << 308 << "exchange"
                                      << "127.0.0.2";
        QTest::newRow("307 deposit") << 307 << "deposit"
                                     << "127.0.0.2";
        QTest::newRow("301 click") << 301 << "click"
                                   << "127.0.0.2";
        QTest::newRow("302 stats") << 302 << "stats"
                                   << "127.0.0.2";
        QTest::newRow("same host, other port") << 307 << "click"
                                               << "127.0.0.1";
    }

    void redirectsToAnotherOriginAreRefused()
    {
        QFETCH(int, status);
        QFETCH(QString, action);
        QFETCH(QString, host);
        ScriptedPeer elsewhere;
        QVERIFY(elsewhere.listen(QHostAddress(host), 0));
        elsewhere.setFallback(ScriptedResponse::ok(QJsonObject{{"total_clicks", 1}}));
        const QString target =
            QStringLiteral("http://%1:%2/api/index.php?action=%3&token=%4")
                .arg(host)
                .arg(elsewhere.serverPort())
                .arg(action, QString::fromLatin1(QUrl::toPercentEncoding(kToken)));
        peer->setFallback(redirect(status, target));
        logIn();

        const Outcome out = send(action);
        QCOMPARE(out.calls, 1);
        QVERIFY(!out.success);
        QVERIFY(out.data.isEmpty());
        // Had the client followed, the other listener would have answered before the callback.
        QCOMPARE(elsewhere.requests.size(), 0);
        QCOMPARE(peer->requests.size(), 1);
        const QString where =
            host == "127.0.0.1" ? QStringLiteral("http://127.0.0.1:%1").arg(elsewhere.serverPort())
                                : host;
        QCOMPARE(out.error,
                 QStringLiteral("服务器重定向到其他地址 (%1 → %2)").arg(status).arg(where));
        QVERIFY(!out.error.contains(kToken));
        QCOMPARE(out.kind, ApiError::Kind::RedirectRefused);
        QCOMPARE(out.status, status);
        QCOMPARE(errorSpy->count(), 1);
        QCOMPARE(errorSpy->at(0).at(0).toString(), out.error);
    }

    void sameOriginRedirectIsFollowed()
    {
        logIn();
        peer->setHandler([this](const RecordedRequest &r) {
            if (r.path == "/api/index.php")
                return redirect(307, peer->url().replace("index.php", "moved.php") +
                                         "?action=" + r.action());
            return ScriptedResponse::ok(QJsonObject{{"total_clicks", 42}});
        });
        const Outcome out = send("click");
        QVERIFY2(out.success, qPrintable(out.error));
        QCOMPARE(out.data.value("total_clicks").toInt(), 42);
        QCOMPARE(peer->requests.size(), 2);
        QCOMPARE(peer->requests[1].path, QByteArray("/api/moved.php"));
        QCOMPARE(peer->requests[1].method, QByteArray("POST"));
        QCOMPARE(peer->requests[1].json(), (QJsonObject{{"count", 9}, {"token", kToken}}));
    }

    void oversizedRepliesAreCutOff_data()
    {
        QTest::addColumn<bool>("announced");
        QTest::addColumn<bool>("post");
        QTest::newRow("with length, click") << true << true;
        QTest::newRow("without length, click") << false << true;
        QTest::newRow("without length, stats") << false << false;
    }

    void oversizedRepliesAreCutOff()
    {
        QFETCH(bool, announced);
        QFETCH(bool, post);
        const QByteArray body(ApiClient::kMaxReplyBytes + 1024 * 1024, 'x');
        QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
        if (announced)
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        else
            head += "Connection: close\r\n";
        peer->setFallback(ScriptedResponse::garbage(head + "\r\n" + body));
        const Outcome out = roundTrip(post);
        QCOMPARE(out.calls, 1);
        QVERIFY(!out.success);
        QCOMPARE(out.error, QString("服务器响应过大 (超过 4 MiB)，请求已中止"));
        QCOMPARE(out.kind, ApiError::Kind::TooLarge);
        QCOMPARE(errorSpy->count(), 1);
        QCOMPARE(client->requestsInFlight(), 0);
    }

    void endlessReplyIsCutOffBeforeTheTimeout()
    {
        // A body that never ends: only the bound can stop it before the timeout does.
        QTcpServer endless;
        QVERIFY(endless.listen(QHostAddress::LocalHost, 0));
        QList<QTcpSocket *> streams;
        connect(&endless, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = endless.nextPendingConnection();
            streams << socket;
            socket->write(
                "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n");
            auto *pump = new QTimer(socket);
            connect(pump, &QTimer::timeout, socket, [socket] {
                if (socket->bytesToWrite() < 256 * 1024)
                    socket->write(QByteArray(64 * 1024, 'x'));
            });
            pump->start(1);
        });
        makeClient(QStringLiteral("http://127.0.0.1:%1/api/index.php").arg(endless.serverPort()));
        QElapsedTimer timer;
        timer.start();
        const Outcome out = roundTrip(false);
        QCOMPARE(out.error, QString("服务器响应过大 (超过 4 MiB)，请求已中止"));
        QVERIFY(timer.elapsed() < client->timeout());
        QCOMPARE(errorSpy->count(), 1);
    }

    void largeRankingsBelowTheBoundArriveWhole()
    {
        QJsonArray rows;
        for (int i = 0; i < 30000; ++i)
            rows.append(
                QJsonObject{{"username", QStringLiteral("player%1").arg(i, 6, 10, QChar('0'))},
                            {"total_clicks", 100000 - i}});
        const QByteArray body =
            QJsonDocument(QJsonObject{{"success", true}, {"data", QJsonObject{{"rankings", rows}}}})
                .toJson(QJsonDocument::Indented);
        QVERIFY(body.size() > 2 * 1024 * 1024 && body.size() < ApiClient::kMaxReplyBytes);
        peer->setFallback(ScriptedResponse::raw(200, "OK", body, "application/json"));
        Outcome out;
        client->fetchRanking(200, recordArray(out));
        QTRY_COMPARE_WITH_TIMEOUT(out.calls, 1, 15000);
        QVERIFY2(out.success, qPrintable(out.error));
        QCOMPARE(out.array.size(), 30000);
    }

    void loggedInWithAnEmptyTokenStillSendsIt()
    {
        auth->handleLoginResponse(QJsonObject{{"username", "x"}});
        Outcome a, b;
        client->sendClicks(1, record(a));
        client->fetchStats(record(b));
        QTRY_VERIFY(a.calls == 1 && b.calls == 1);
        QCOMPARE(peer->requestsFor("click")[0].json(), (QJsonObject{{"count", 1}, {"token", ""}}));
        QCOMPARE(peer->requestsFor("stats")[0].target,
                 QByteArray("/api/index.php?action=stats&token="));
    }
};

TAPTEMPEST_TEST_MAIN(TestApiClient)
#include "tst_apiclient.moc"
