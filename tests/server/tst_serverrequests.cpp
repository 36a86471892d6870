// The reference server at the HTTP level, with hand-made requests over TLS: malformed requests,
// sessions, body limits, keep-alive, actions sent again with a request id and the certificate it
// makes.

#include "support/referenceserver.h"
#include "support/testenv.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

#include <memory>
#include <vector>

namespace {

struct HttpReply
{
    int status = 0;
    QByteArray head;
    QByteArray body;
    QJsonObject envelope;
    bool parsed = false;

    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                return line.mid(colon + 1).trimmed();
        }
        return QByteArray();
    }
    QString message() const { return envelope.value(QStringLiteral("message")).toString(); }
    bool isFailureEnvelope() const
    {
        return envelope.value(QStringLiteral("success")) == QJsonValue(false) &&
               envelope.value(QStringLiteral("data")).isObject() && !message().isEmpty();
    }
};

QByteArray formRequest(const QByteArray &method, const QByteArray &target, const QByteArray &body,
                       const QByteArray &extraHeaders = QByteArray())
{
    QByteArray request = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!body.isEmpty() || method == "POST")
        request +=
            "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
            "\r\n";
    return request + extraHeaders + "\r\n" + body;
}

} // namespace

class TestServerRequests : public QObject
{
    Q_OBJECT

private:
    ReferenceServer server;
    QString token;
    QByteArray buffered; // bytes read past the end of the last reply

    bool connectTo(QSslSocket &socket, const QString &host = QStringLiteral("127.0.0.1"))
    {
        QSslConfiguration config = socket.sslConfiguration();
        config.setCaCertificates(QSslCertificate::fromPath(server.caFile()));
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        socket.setSslConfiguration(config);
        socket.connectToHostEncrypted(host, server.port());
        buffered.clear();
        return socket.waitForEncrypted(10000);
    }

    // Reads one reply off a kept-alive connection.
    HttpReply readReply(QSslSocket &socket)
    {
        HttpReply reply;
        const QDeadlineTimer deadline(10000);
        // Waits for more bytes; false once none can come any more.
        const auto more = [&] {
            buffered += socket.readAll();
            if (deadline.hasExpired())
                return false;
            if (!socket.waitForReadyRead(100) &&
                socket.state() == QAbstractSocket::UnconnectedState) {
                buffered += socket.readAll();
                return false;
            }
            buffered += socket.readAll();
            return true;
        };
        buffered += socket.readAll();
        qsizetype headEnd = -1;
        while ((headEnd = buffered.indexOf("\r\n\r\n")) < 0) {
            if (!more() && buffered.indexOf("\r\n\r\n") < 0)
                return reply;
        }
        reply.head = buffered.left(headEnd);
        reply.status = reply.head.mid(9, 3).toInt();
        const qint64 length = reply.header("Content-Length").toLongLong();
        while (buffered.size() < headEnd + 4 + length) {
            if (!more() && buffered.size() < headEnd + 4 + length)
                return reply;
        }
        reply.body = buffered.mid(headEnd + 4, length);
        buffered.remove(0, headEnd + 4 + length);
        const QJsonDocument doc = QJsonDocument::fromJson(reply.body);
        reply.envelope = doc.object();
        reply.parsed = doc.isObject();
        return reply;
    }

    HttpReply send(const QByteArray &raw)
    {
        QSslSocket socket;
        if (!connectTo(socket))
            return HttpReply();
        socket.write(raw);
        return readReply(socket);
    }

    HttpReply post(const QByteArray &action, const QJsonObject &body)
    {
        return send(
            formRequest("POST", "/api/index.php?action=" + action, QJsonDocument(body).toJson()));
    }

    static bool waitForClose(QSslSocket &socket, int ms = 5000)
    {
        QDeadlineTimer deadline(ms);
        while (socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired())
            socket.waitForDisconnected(100);
        return socket.state() == QAbstractSocket::UnconnectedState;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}),
                 qPrintable(server.errorString()));
        QVERIFY2(server.addUser(QStringLiteral("alice"), QStringLiteral("wonder-land")),
                 qPrintable(server.errorString()));
        QVERIFY(server.addUser(QStringLiteral("old"), QStringLiteral("timer")));
        const HttpReply login = post("login", {{"username", "alice"}, {"password", "wonder-land"}});
        QCOMPARE(login.status, 200);
        token = login.envelope.value("data").toObject().value("token").toString();
        QVERIFY(!token.isEmpty());
        QCOMPARE(post("click", {{"count", 500}, {"token", token}}).status, 200);
    }

    // What scripts/run does for the demo account: a starting balance, given once.
    void addUserWithStartingClicks()
    {
        QVERIFY2(server.addUser(QStringLiteral("rich"), QStringLiteral("pw"), 20000),
                 qPrintable(server.errorString()));
        HttpReply login = post("login", {{"username", "rich"}, {"password", "pw"}});
        QCOMPARE(login.status, 200);
        QCOMPARE(login.envelope.value("data").toObject().value("clicks").toInteger(), 20000);
        QVERIFY(!server.addUser(QStringLiteral("rich"), QStringLiteral("pw"), 99999));
        QVERIFY2(server.errorString().contains("status 2"), qPrintable(server.errorString()));
        login = post("login", {{"username", "rich"}, {"password", "pw"}});
        QCOMPARE(login.envelope.value("data").toObject().value("clicks").toInteger(), 20000);
    }

    // scripts/run hands the password over on standard input ("-"), out of the process list.
    void addUserReadsThePasswordFromStandardInput()
    {
        QProcess add;
        add.start(ReferenceServer::binaryPath(), {"--data", server.dataDir(), "--add-user", "piped",
                                                  "--clicks", "300", "--", "-"});
        QVERIFY(add.waitForStarted());
        add.write("two words\n");
        add.closeWriteChannel();
        QVERIFY(add.waitForFinished(30000));
        QCOMPARE(add.exitCode(), 0);
        HttpReply login = post("login", {{"username", "piped"}, {"password", "two words"}});
        QCOMPARE(login.status, 200);
        QCOMPARE(login.envelope.value("data").toObject().value("clicks").toInteger(), 300);
        login = post("login", {{"username", "piped"}, {"password", "-"}});
        QVERIFY(!login.envelope.value("success").toBool());
    }

    void malformedRequestsGet400_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        const QByteArray click = "/api/index.php?action=click";
        QTest::newRow("GET for click")
            << QByteArray("GET") << QByteArray(click + "&token=$T&count=5") << QByteArray();
        QTest::newRow("GET for login")
            << QByteArray("GET")
            << QByteArray("/api/index.php?action=login&username=alice&password=wonder-land")
            << QByteArray();
        QTest::newRow("POST for stats")
            << QByteArray("POST") << QByteArray("/api/index.php?action=stats")
            << QByteArray(R"({"token": "$T"})");
        QTest::newRow("PUT") << QByteArray("PUT") << click
                             << QByteArray(R"({"count": 5, "token": "$T"})");
        QTest::newRow("no action") << QByteArray("POST") << QByteArray("/api/index.php")
                                   << QByteArray(R"({"count": 5, "token": "$T"})");
        QTest::newRow("unknown action")
            << QByteArray("POST") << QByteArray("/api/index.php?action=steal")
            << QByteArray(R"({"count": 5, "token": "$T"})");
        QTest::newRow("action in other case")
            << QByteArray("POST") << QByteArray("/api/index.php?action=CLICK")
            << QByteArray(R"({"count": 5, "token": "$T"})");
        QTest::newRow("body not JSON")
            << QByteArray("POST") << click << QByteArray("count=5&token=$T");
        QTest::newRow("body a JSON array")
            << QByteArray("POST") << click << QByteArray(R"([5, "$T"])");
        QTest::newRow("empty body") << QByteArray("POST") << click << QByteArray();
        QTest::newRow("count as text")
            << QByteArray("POST") << click << QByteArray(R"({"count": "5", "token": "$T"})");
        QTest::newRow("count a fraction")
            << QByteArray("POST") << click << QByteArray(R"({"count": 2.5, "token": "$T"})");
        QTest::newRow("count a boolean")
            << QByteArray("POST") << click << QByteArray(R"({"count": true, "token": "$T"})");
        QTest::newRow("count beyond exact integers")
            << QByteArray("POST") << click << QByteArray(R"({"count": 1e300, "token": "$T"})");
        QTest::newRow("count missing")
            << QByteArray("POST") << click << QByteArray(R"({"token": "$T"})");
        QTest::newRow("sync id without total")
            << QByteArray("POST") << click
            << QByteArray(R"({"count": 5, "sync_id": "a", "token": "$T"})");
        QTest::newRow("sync id a number")
            << QByteArray("POST") << click
            << QByteArray(R"({"count": 5, "sync_id": 7, "sync_total": 5, "token": "$T"})");
        QTest::newRow("sync id empty")
            << QByteArray("POST") << click
            << QByteArray(R"({"count": 5, "sync_id": "", "sync_total": 5, "token": "$T"})");
        QTest::newRow("sync id with NUL")
            << QByteArray("POST") << click
            << QByteArray(R"({"count": 5, "sync_id": "a\u0000b", "sync_total": 5, "token": "$T"})");
        QTest::newRow("exchange amount null")
            << QByteArray("POST") << QByteArray("/api/index.php?action=exchange")
            << QByteArray(R"({"clicks_to_exchange": null, "token": "$T"})");
        QTest::newRow("deposit amount an object")
            << QByteArray("POST") << QByteArray("/api/index.php?action=deposit")
            << QByteArray(R"({"clicks_amount": {"n": 1}, "token": "$T"})");
        QTest::newRow("effect id as text")
            << QByteArray("POST") << QByteArray("/api/index.php?action=buy_effect")
            << QByteArray(R"({"effect_id": "1", "token": "$T"})");
        QTest::newRow("request id a number")
            << QByteArray("POST") << QByteArray("/api/index.php?action=exchange")
            << QByteArray(R"({"clicks_to_exchange": 100, "request_id": 7, "token": "$T"})");
        QTest::newRow("request id null")
            << QByteArray("POST") << QByteArray("/api/index.php?action=deposit")
            << QByteArray(R"({"clicks_amount": 1, "request_id": null, "token": "$T"})");
        QTest::newRow("request id empty")
            << QByteArray("POST") << QByteArray("/api/index.php?action=buy_effect")
            << QByteArray(R"({"effect_id": 1, "request_id": "", "token": "$T"})");
        QTest::newRow("request id too long")
            << QByteArray("POST") << QByteArray("/api/index.php?action=deposit")
            << QByteArray(R"({"clicks_amount": 1, "request_id": ")" + QByteArray(65, 'a') +
                          R"(", "token": "$T"})");
        QTest::newRow("token a number")
            << QByteArray("POST") << click << QByteArray(R"({"count": 5, "token": 12345})");
        QTest::newRow("password a number")
            << QByteArray("POST") << QByteArray("/api/index.php?action=login")
            << QByteArray(R"({"username": "alice", "password": 123})");
        QTest::newRow("ranking limit not a number")
            << QByteArray("GET") << QByteArray("/api/index.php?action=ranking&token=$T&limit=ten")
            << QByteArray();
        QTest::newRow("ranking limit a fraction")
            << QByteArray("GET") << QByteArray("/api/index.php?action=ranking&token=$T&limit=1.5")
            << QByteArray();
    }

    void malformedRequestsGet400()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        const ReferenceServer::Account before = server.account(QStringLiteral("alice"));
        const HttpReply reply = send(formRequest(method, target.replace("$T", token.toLatin1()),
                                                 body.replace("$T", token.toLatin1())));
        QCOMPARE(reply.status, 400);
        QVERIFY2(reply.isFailureEnvelope(), reply.body.constData());
        QCOMPARE(reply.header("Content-Type"), QByteArray("application/json"));
        const ReferenceServer::Account after = server.account(QStringLiteral("alice"));
        QCOMPARE(after.clicks, before.clicks);
        QCOMPARE(after.lifetimeClicks, before.lifetimeClicks);
        QCOMPARE(after.sessions, before.sessions);
    }

    void wellFormedVariantsAreAccepted()
    {
        // Any JSON layout, unknown members, an integer written with an exponent, an action whose
        // slash is percent-encoded, a limit out of range (clamped).
        HttpReply reply = send(formRequest("POST", "/api/index.php?action=click",
                                           "\n{ \"extra\" : [1,2],\n  \"count\":1e1,\"token\":\"" +
                                               token.toLatin1() + "\" }\n"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.envelope.value("data").toObject().value("credited").toInt(), 10);
        reply = send(formRequest(
            "GET", "/api/index.php?action=effects%2Flist&token=" + token.toLatin1(), QByteArray()));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.envelope.value("data").toObject().value("effects").toArray().size(), 39);
        reply = send(formRequest("GET",
                                 "/api/index.php?action=ranking&limit=-3&token=" + token.toLatin1(),
                                 QByteArray()));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.envelope.value("data").toObject().value("rankings").toArray().size(), 1);
    }

    void otherPathsGet404()
    {
        for (const QByteArray &target :
             {QByteArray("/"), QByteArray("/api/index.phpx?action=stats"),
              QByteArray("/api/other.php?action=stats"),
              QByteArray("/api/indexXphp?action=stats")}) {
            const HttpReply reply = send(formRequest("GET", target, QByteArray()));
            QCOMPARE(reply.status, 404);
            QVERIFY(reply.isFailureEnvelope());
        }
    }

    void actionsNeedALiveSession_data()
    {
        QTest::addColumn<QByteArray>("tokenText");
        QTest::newRow("none") << QByteArray();
        QTest::newRow("empty") << QByteArray("\"\"");
        QTest::newRow("unknown") << QByteArray("\"0123456789abcdef0123456789abcdef\"");
        QTest::newRow("expired") << QByteArray("$EXPIRED");
    }

    void actionsNeedALiveSession()
    {
        QFETCH(QByteArray, tokenText);
        if (tokenText == "$EXPIRED") {
            const HttpReply login = post("login", {{"username", "old"}, {"password", "timer"}});
            const QString expired =
                login.envelope.value("data").toObject().value("token").toString();
            QVERIFY(!expired.isEmpty());
            QCOMPARE(post("click", {{"count", 1}, {"token", expired}}).status, 200);
            QVERIFY(server.expireSessions(QStringLiteral("old")));
            tokenText = '"' + expired.toLatin1() + '"';
        }
        const ReferenceServer::Account aliceBefore = server.account(QStringLiteral("alice"));
        const ReferenceServer::Account oldBefore = server.account(QStringLiteral("old"));
        const QByteArray member = tokenText.isNull() ? QByteArray() : ", \"token\": " + tokenText;
        const QByteArray query =
            tokenText.isNull() ? QByteArray() : "&token=" + tokenText.mid(1).chopped(1);
        const QList<HttpReply> replies = {
            send(
                formRequest("POST", "/api/index.php?action=click", "{\"count\": 3" + member + "}")),
            send(formRequest("POST", "/api/index.php?action=buy_effect",
                             "{\"effect_id\": 3" + member + "}")),
            send(formRequest("GET", "/api/index.php?action=stats" + query, QByteArray())),
            send(formRequest("GET", "/api/index.php?action=ranking&limit=5" + query, QByteArray())),
            send(formRequest("GET", "/api/index.php?action=effects/list" + query, QByteArray())),
        };
        for (const HttpReply &reply : replies) {
            QCOMPARE(reply.status, 401);
            QVERIFY2(reply.isFailureEnvelope(), reply.body.constData());
        }
        QCOMPARE(server.account(QStringLiteral("alice")).lifetimeClicks,
                 aliceBefore.lifetimeClicks);
        QCOMPARE(server.account(QStringLiteral("old")).lifetimeClicks, oldBefore.lifetimeClicks);
        QCOMPARE(server.account(QStringLiteral("old")).ownedEffects, oldBefore.ownedEffects);
    }

    void bodiesOver64KiBAreRefused()
    {
        // Padded login bodies of exactly the limit and one byte more.
        const auto padded = [](qsizetype size) {
            QByteArray body = "{\"username\": \"nobody\", \"password\": \"x\", \"pad\": \"";
            body += QByteArray(size - body.size() - 2, 'p');
            return body + "\"}";
        };
        HttpReply reply = send(formRequest("POST", "/api/index.php?action=login", padded(65536)));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.message(), QStringLiteral("用户名或密码错误"));
        reply = send(formRequest("POST", "/api/index.php?action=login", padded(65537)));
        QCOMPARE(reply.status, 413);
        QVERIFY(reply.isFailureEnvelope());

        // A huge declared body is answered at once, without waiting for (or storing) it.
        QSslSocket socket;
        QVERIFY(connectTo(socket));
        socket.write(
            "POST /api/index.php?action=click HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            "Content-Type: application/json\r\nContent-Length: 1073741824\r\n\r\n{\"count\"");
        reply = readReply(socket);
        QCOMPARE(reply.status, 413);
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QVERIFY(waitForClose(socket));
    }

    void brokenFramingIsRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::newRow("chunked body")
            << QByteArray("POST /api/index.php?action=click HTTP/1.1\r\nHost: x\r\n"
                          "Transfer-Encoding: chunked\r\n\r\n5\r\n{\"a\":\r\n0\r\n\r\n")
            << 411;
        QTest::newRow("conflicting lengths")
            << QByteArray("POST /api/index.php?action=click HTTP/1.1\r\nHost: x\r\n"
                          "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}")
            << 400;
        QTest::newRow("negative length")
            << QByteArray("POST /api/index.php?action=click HTTP/1.1\r\n"
                          "Host: x\r\nContent-Length: -1\r\n\r\n")
            << 400;
        QTest::newRow("header block over 16 KiB")
            << QByteArray("GET /api/index.php?action=stats HTTP/1.1\r\nHost: x\r\nX-Pad: " +
                          QByteArray(20000, 'a') + "\r\n\r\n")
            << 431;
    }

    void brokenFramingIsRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QSslSocket socket;
        QVERIFY(connectTo(socket));
        socket.write(request);
        const HttpReply reply = readReply(socket);
        QCOMPARE(reply.status, status);
        QVERIFY(reply.isFailureEnvelope());
        QVERIFY(waitForClose(socket));
    }

    void oneConnectionServesManyRequests()
    {
        QSslSocket socket;
        QVERIFY(connectTo(socket));
        qint64 total = server.account(QStringLiteral("alice")).clicks;
        const QByteArray tokenBytes = token.toLatin1();
        for (int i = 1; i <= 15; ++i) {
            socket.write(formRequest("POST", "/api/index.php?action=click",
                                     "{\"count\": " + QByteArray::number(i) + ", \"token\": \"" +
                                         tokenBytes + "\"}"));
            total += i;
            HttpReply reply = readReply(socket);
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.envelope.value("data").toObject().value("total_clicks").toInteger(),
                     total);
            socket.write(formRequest("GET", "/api/index.php?action=stats&token=" + tokenBytes,
                                     QByteArray()));
            reply = readReply(socket);
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.envelope.value("data").toObject().value("total_clicks").toInteger(),
                     total);
        }
        // Several requests in one write, bodies included, are answered in order.
        QByteArray batch;
        for (int i = 0; i < 3; ++i)
            batch += formRequest("POST", "/api/index.php?action=click",
                                 "{\"count\": 100, \"token\": \"" + tokenBytes + "\"}");
        socket.write(batch);
        for (int i = 0; i < 3; ++i) {
            total += 100;
            const HttpReply reply = readReply(socket);
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.envelope.value("data").toObject().value("total_clicks").toInteger(),
                     total);
        }
        // The connection keeps its framing after the batch.
        for (int i = 0; i < 3; ++i) {
            socket.write(formRequest("POST", "/api/index.php?action=click",
                                     "{\"count\": 1, \"token\": \"" + tokenBytes + "\"}"));
            total += 1;
            const HttpReply reply = readReply(socket);
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.envelope.value("data").toObject().value("total_clicks").toInteger(),
                     total);
        }
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }

    void anActionWithARequestIdIsAppliedOnce()
    {
        QCOMPARE(post("click", {{"count", 2000}, {"token", token}}).status, 200);
        const ReferenceServer::Account before = server.account(QStringLiteral("alice"));
        const QJsonObject exchange{{"clicks_to_exchange", 300},
                                   {"request_id", "7d4f8a52-1c3b-4e9a-b6d2-0f5e8c7a9b13"},
                                   {"token", token}};
        const HttpReply first = post("exchange", exchange);
        QCOMPARE(first.status, 200);
        QCOMPARE(first.envelope.value("success"), QJsonValue(true));
        const HttpReply repeat = post("exchange", exchange);
        QCOMPARE(repeat.status, 200);
        QCOMPARE(repeat.envelope, first.envelope);
        ReferenceServer::Account after = server.account(QStringLiteral("alice"));
        QCOMPARE(after.clicks, before.clicks - 300);
        QCOMPARE(after.gold, before.gold + 3);

        // The id again with another amount: 409, a message to show, nothing applied.
        QJsonObject other = exchange;
        other.insert("clicks_to_exchange", 400);
        const HttpReply reused = post("exchange", other);
        QCOMPARE(reused.status, 409);
        QVERIFY2(reused.isFailureEnvelope(), reused.body.constData());
        QVERIFY2(reused.message().contains(QStringLiteral("未执行")), reused.body.constData());
        after = server.account(QStringLiteral("alice"));
        QCOMPARE(after.clicks, before.clicks - 300);
        QCOMPARE(after.gold, before.gold + 3);

        // Many copies of one deposit at once, on connections of their own: one is applied,
        // every copy gets its reply.
        const QByteArray deposit = formRequest(
            "POST", "/api/index.php?action=deposit",
            QJsonDocument(
                QJsonObject{{"clicks_amount", 25}, {"request_id", "dep-at-once"}, {"token", token}})
                .toJson());
        std::vector<std::unique_ptr<QSslSocket>> sockets;
        for (int i = 0; i < 8; ++i) {
            sockets.push_back(std::make_unique<QSslSocket>());
            QVERIFY(connectTo(*sockets.back()));
        }
        for (auto &socket : sockets)
            socket->write(deposit);
        QList<QJsonObject> replies;
        for (auto &socket : sockets) {
            buffered.clear();
            const HttpReply reply = readReply(*socket);
            QCOMPARE(reply.status, 200);
            replies << reply.envelope;
        }
        for (const QJsonObject &reply : replies)
            QCOMPARE(reply, replies.first());
        after = server.account(QStringLiteral("alice"));
        QCOMPARE(after.clicks, before.clicks - 325);
        QCOMPARE(after.bankBalance, before.bankBalance + 250);

        // And without an id, as before, each request counts.
        const QJsonObject plain{{"clicks_amount", 5}, {"token", token}};
        QCOMPARE(post("deposit", plain).status, 200);
        QCOMPARE(post("deposit", plain).status, 200);
        QCOMPARE(server.account(QStringLiteral("alice")).clicks, before.clicks - 335);
    }

    void repliesKeepTheOrderOfPipelinedRequests()
    {
        // A login, answered after its password check, and a click batch right behind it on the
        // same connection: the replies come in the order of the requests.
        QSslSocket socket;
        QVERIFY(connectTo(socket));
        socket.write(formRequest("POST", "/api/index.php?action=login",
                                 R"({"username": "alice", "password": "wonder-land"})") +
                     formRequest("POST", "/api/index.php?action=click",
                                 "{\"count\": 1, \"token\": \"" + token.toLatin1() + "\"}"));
        const HttpReply login = readReply(socket);
        QCOMPARE(login.status, 200);
        QVERIFY2(login.envelope.value("data").toObject().contains("token"), login.body.constData());
        const HttpReply click = readReply(socket);
        QCOMPARE(click.status, 200);
        QVERIFY2(click.envelope.value("data").toObject().contains("credited"),
                 click.body.constData());
    }

    void certificateVerifiesForLoopbackNames()
    {
        for (const QString &host : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
            QSslSocket socket;
            QVERIFY2(connectTo(socket, host), qPrintable(host + ": " + socket.errorString()));
            QVERIFY(socket.sslHandshakeErrors().isEmpty());
        }
        // Verification really is on: without the certificate as CA the handshake fails.
        QSslSocket stranger;
        stranger.setPeerVerifyMode(QSslSocket::VerifyPeer);
        stranger.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.port());
        QVERIFY(!stranger.waitForEncrypted(10000));
    }
};

TAPTEMPEST_TEST_MAIN(TestServerRequests)
#include "tst_serverrequests.moc"
