// The reference server keeps every acknowledged click: under concurrent load on one account,
// across a clean restart and across a crash.

#include "net/apiclient.h"
#include "net/authmanager.h"
#include "bench/common/referenceserver.h"
#include "support/testenv.h"

#include <QFile>
#include <QJsonObject>

#include <csignal>
#include <memory>
#include <vector>

namespace {

const char kName[] = "tester";
const char kPassword[] = "many-hands";

// One client sending its batches one after the other, as the game does: the next batch leaves
// when the previous one is acknowledged.
struct Player
{
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<ApiClient> api;
    int batchesLeft = 0;
    qint64 sent = 0;
    qint64 lastTotal = -1;
    bool totalsGrew = true;
    QStringList errors;
};

} // namespace

class TestServerIntegrity : public QObject
{
    Q_OBJECT

private:
    ReferenceServer server;
    QJsonObject session; // the login reply, shared by every client

    std::unique_ptr<ApiClient> newClient(AuthManager *auth)
    {
        server.exportEnvironment();
        auto api = std::make_unique<ApiClient>();
        api->setAuthManager(auth);
        return api;
    }

    QJsonObject fetchStats(ApiClient &api)
    {
        bool done = false;
        QJsonObject result;
        api.fetchStats([&](bool success, const QJsonObject &data, const QString &error) {
            done = true;
            result = success ? data : QJsonObject{{"error", error}};
        });
        (void)QTest::qWaitFor([&] { return done; }, 15000);
        return result;
    }

    static void sendNext(Player &player, int index)
    {
        if (player.batchesLeft == 0)
            return;
        const int count = 1 + (index * 7 + player.batchesLeft * 13) % 61;
        player.api->sendClicks(count, [&player, index, count](bool success, const QJsonObject &data,
                                                              const QString &error) {
            if (!success) {
                player.errors << error;
                player.batchesLeft = 0;
                return;
            }
            player.sent += count;
            const qint64 total = data.value(QStringLiteral("total_clicks")).toInteger();
            player.totalsGrew = player.totalsGrew && total >= player.lastTotal + count;
            player.lastTotal = total;
            --player.batchesLeft;
            sendNext(player, index);
        });
    }

private slots:
    void initTestCase()
    {
        // The test clicks far faster than a person: lift the per-second allowance.
        QVERIFY2(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}),
                 qPrintable(server.errorString()));
        QVERIFY(server.addUser(QString::fromLatin1(kName), QString::fromLatin1(kPassword)));
        server.exportEnvironment();
        ApiClient::configureSsl();

        AuthManager auth;
        const std::unique_ptr<ApiClient> api = newClient(&auth);
        bool done = false;
        api->login(QString::fromLatin1(kName), QString::fromLatin1(kPassword),
                   [&](bool success, const QJsonObject &data, const QString &error) {
                       QVERIFY2(success, qPrintable(error));
                       session = data;
                       done = true;
                   });
        QTRY_VERIFY_WITH_TIMEOUT(done, 15000);
        QVERIFY(!session.value(QStringLiteral("token")).toString().isEmpty());
    }

    void concurrentBatchesAreAllCredited()
    {
        const int kPlayers = 8;
        const int kBatches = 50;
        std::vector<Player> players(kPlayers);
        for (int i = 0; i < kPlayers; ++i) {
            players[i].auth = std::make_unique<AuthManager>();
            players[i].auth->handleLoginResponse(session);
            players[i].api = newClient(players[i].auth.get());
            players[i].batchesLeft = kBatches;
        }
        for (int i = 0; i < kPlayers; ++i)
            sendNext(players[i], i);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(players.begin(), players.end(),
                                             [](const Player &p) { return p.batchesLeft == 0; }),
                                 60000);
        qint64 sent = 0;
        for (const Player &player : players) {
            QVERIFY2(player.errors.isEmpty(), qPrintable(player.errors.join(QLatin1Char('\n'))));
            QVERIFY(player.totalsGrew);
            sent += player.sent;
        }
        QVERIFY(sent > kPlayers * kBatches);

        const ReferenceServer::Account account = server.account(QString::fromLatin1(kName));
        QCOMPARE(account.clicks, sent);
        QCOMPARE(account.lifetimeClicks, sent);
        AuthManager auth;
        auth.handleLoginResponse(session);
        QCOMPARE(fetchStats(*newClient(&auth)).value(QStringLiteral("total_clicks")).toInteger(),
                 sent);
    }

    void aCleanRestartKeepsEverything()
    {
        const ReferenceServer::Account before = server.account(QString::fromLatin1(kName));
        QVERIFY(before.clicks > 0);
        QFile cert(server.caFile());
        QVERIFY(cert.open(QIODevice::ReadOnly));
        const QByteArray certBytes = cert.readAll();
        cert.close();

        server.stop();
        QCOMPARE(server.exitCode(), 0);
        QVERIFY(server.output().contains(QLatin1String("stopped")));
        QVERIFY(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}));
        QVERIFY(cert.open(QIODevice::ReadOnly));
        QCOMPARE(cert.readAll(), certBytes); // the client's trust still holds

        // The old session is still good and the figures are those from before.
        AuthManager auth;
        auth.handleLoginResponse(session);
        const QJsonObject stats = fetchStats(*newClient(&auth));
        QCOMPARE(stats.value(QStringLiteral("total_clicks")).toInteger(), before.clicks);

        // SIGINT stops it as cleanly as SIGTERM.
        QVERIFY(::kill(pid_t(server.processId()), SIGINT) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!server.isRunning(), 10000);
        server.stop();
        QCOMPARE(server.exitCode(), 0);
        QVERIFY(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}));
    }

    void aCrashRightAfterTheAcknowledgementKeepsTheBatch()
    {
        const qint64 before = server.account(QString::fromLatin1(kName)).clicks;
        AuthManager auth;
        auth.handleLoginResponse(session);
        std::unique_ptr<ApiClient> api = newClient(&auth);
        bool acknowledged = false;
        api->sendClicks(77, [&](bool success, const QJsonObject &, const QString &error) {
            QVERIFY2(success, qPrintable(error));
            server.kill(); // SIGKILL the moment the reply is in
            acknowledged = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(acknowledged, 15000);
        QVERIFY(!server.isRunning());

        QVERIFY(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}));
        QCOMPARE(server.account(QString::fromLatin1(kName)).clicks, before + 77);
        api = newClient(&auth);
        QCOMPARE(fetchStats(*api).value(QStringLiteral("total_clicks")).toInteger(), before + 77);
    }
};

TAPTEMPEST_TEST_MAIN(TestServerIntegrity)
#include "tst_serverintegrity.moc"
