// Two server processes on one PostgreSQL database, as --workers or several machines run them:
// repeats and resends that reach both are applied once, guesses spread over both are throttled
// as one, and a process killed under load loses nothing it acknowledged.

#include "scratchdatabase.h"
#include "support/referenceserver.h"
#include "support/testenv.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <array>
#include <csignal>
#include <functional>
#include <memory>

class TestServerProcesses : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchDatabase> scratch; // outlives the servers
    std::array<std::unique_ptr<ReferenceServer>, 2> servers;
    QNetworkAccessManager network;
    QString token;

    // Sends one POST; the reply's envelope lands in `*envelope` (an empty object when there was
    // no answer), and `*done` is set.
    void post(int server, const QByteArray &action, QJsonObject body, QJsonObject *envelope,
              bool *done)
    {
        if (!token.isEmpty())
            body.insert(QStringLiteral("token"), token);
        QNetworkRequest request(QUrl(servers[size_t(server)]->url() + QStringLiteral("?action=") +
                                     QString::fromLatin1(action)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        QList<QSslCertificate> cas;
        for (const auto &each : servers) {
            if (each)
                cas << QSslCertificate::fromPath(each->caFile());
        }
        ssl.setCaCertificates(cas);
        request.setSslConfiguration(ssl);
        QNetworkReply *reply = network.post(request, QJsonDocument(body).toJson());
        connect(reply, &QNetworkReply::finished, this, [reply, envelope, done] {
            *envelope = QJsonDocument::fromJson(reply->readAll()).object();
            *done = true;
            reply->deleteLater();
        });
    }

    QJsonObject postAndWait(int server, const QByteArray &action, const QJsonObject &body)
    {
        QJsonObject envelope;
        bool done = false;
        post(server, action, body, &envelope, &done);
        (void)QTest::qWaitFor([&] { return done; }, 20000);
        return envelope;
    }

    static QJsonObject data(const QJsonObject &envelope)
    {
        return envelope.value(QStringLiteral("data")).toObject();
    }

private slots:
    void initTestCase()
    {
        if (!ScratchDatabase::unavailableReason().isEmpty())
            QSKIP(ScratchDatabase::skipMessage().constData());
    }

    void init()
    {
        QString error;
        scratch = std::make_unique<ScratchDatabase>();
        QVERIFY2(scratch->create(&error), qPrintable(error));
        for (auto &server : servers) {
            server = std::make_unique<ReferenceServer>();
            server->setDatabaseUrl(scratch->url().toString());
        }
        QVERIFY2(servers[0]->addUser(QStringLiteral("bob"), QStringLiteral("pw"), 5000),
                 qPrintable(servers[0]->errorString()));
        for (auto &server : servers)
            QVERIFY2(server->start({QStringLiteral("--click-rate"), QStringLiteral("0")}),
                     qPrintable(server->errorString()));
        token.clear();
        const QJsonObject login = postAndWait(
            0, "login", {{"username", QStringLiteral("bob")}, {"password", QStringLiteral("pw")}});
        token = data(login).value(QStringLiteral("token")).toString();
        QVERIFY2(!token.isEmpty(), QJsonDocument(login).toJson().constData());
    }

    void cleanup()
    {
        for (auto &server : servers)
            server.reset();
        scratch.reset();
    }

    // Sends `body` to both servers at the same moment, pair after pair, so that their
    // transactions meet; returns both envelopes of each pair.
    QList<std::array<QJsonObject, 2>> sendPairs(const QByteArray &action, int pairs,
                                                const std::function<QJsonObject(int)> &body)
    {
        QList<std::array<QJsonObject, 2>> replies;
        for (int i = 0; i < pairs; ++i) {
            std::array<QJsonObject, 2> pair;
            bool done[2] = {};
            for (int server = 0; server < 2; ++server)
                post(server, action, body(i), &pair[size_t(server)], &done[server]);
            if (!QTest::qWaitFor([&] { return done[0] && done[1]; }, 20000))
                break;
            replies << pair;
        }
        return replies;
    }

    void repeatsSentToBothAtOnceApplyOnce()
    {
        const int kActions = 40;
        const auto replies = sendPairs("deposit", kActions, [](int i) {
            return QJsonObject{{"clicks_amount", 10},
                               {"request_id", QStringLiteral("deposit-%1").arg(i)}};
        });
        QCOMPARE(replies.size(), kActions);
        for (const auto &pair : replies) {
            QCOMPARE(pair[0].value(QStringLiteral("success")), QJsonValue(true));
            QCOMPARE(pair[0], pair[1]);
        }
        const ReferenceServer::Account bob = servers[0]->account(QStringLiteral("bob"));
        QCOMPARE(bob.clicks, 5000 - kActions * 10);
        QCOMPARE(bob.bankBalance, kActions * 100);
    }

    void oneSyncBatchSentToBothIsCreditedOnce()
    {
        const int kBatches = 40;
        const auto replies = sendPairs("click", kBatches, [](int i) {
            return QJsonObject{
                {"count", 5}, {"sync_id", QStringLiteral("both")}, {"sync_total", 5 * (i + 1)}};
        });
        QCOMPARE(replies.size(), kBatches);
        qint64 credited = 0;
        for (const auto &pair : replies) {
            for (const QJsonObject &reply : pair) {
                QCOMPARE(reply.value(QStringLiteral("success")), QJsonValue(true));
                credited += data(reply).value(QStringLiteral("credited")).toInteger();
            }
        }
        QCOMPARE(credited, 5 * kBatches);
        QCOMPARE(servers[0]->account(QStringLiteral("bob")).lifetimeClicks, 5 * kBatches);
    }

    void guessesSpreadOverBothAreThrottledAsOne()
    {
        token.clear();
        for (int i = 0; i < 5; ++i) {
            const QJsonObject reply = postAndWait(
                i % 2, "login",
                {{"username", QStringLiteral("bob")}, {"password", QStringLiteral("guess")}});
            QCOMPARE(reply.value(QStringLiteral("message")).toString(),
                     QStringLiteral("用户名或密码错误"));
        }
        for (int server = 0; server < 2; ++server) {
            const QJsonObject reply = postAndWait(
                server, "login",
                {{"username", QStringLiteral("bob")}, {"password", QStringLiteral("pw")}});
            QVERIFY2(reply.value(QStringLiteral("message"))
                         .toString()
                         .contains(QStringLiteral("次数过多")),
                     QJsonDocument(reply).toJson().constData());
        }
    }

    void aKilledServerLosesNothingItAcknowledged()
    {
        // Each server gets its own sync session; a batch waits for the one before it.
        struct Clicker
        {
            qint64 sent = 0;  // sync_total of the batch on its way
            qint64 acked = 0; // sync_total the server confirmed
            QJsonObject reply;
            bool done = true;
        };
        Clicker clickers[2];
        const auto feed = [&](int server) {
            Clicker &clicker = clickers[server];
            if (!clicker.done)
                return;
            if (clicker.reply.value(QStringLiteral("success")) == QJsonValue(true))
                clicker.acked = clicker.sent;
            clicker.reply = QJsonObject();
            clicker.done = false;
            clicker.sent = clicker.acked + 3;
            post(server, "click",
                 {{"count", 3},
                  {"sync_id", QStringLiteral("clicker-%1").arg(server)},
                  {"sync_total", clicker.sent}},
                 &clicker.reply, &clicker.done);
        };
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                feed(0);
                feed(1);
                return clickers[0].acked >= 60 && clickers[1].acked >= 60;
            }(),
            60000);
        const qint64 pid = servers[0]->processId();
        QVERIFY(pid > 0);
        feed(0); // a batch in flight as the process dies
        servers[0]->kill();
        QTRY_VERIFY_WITH_TIMEOUT(clickers[0].done, 20000);
        const qint64 before = clickers[1].acked;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                feed(1);
                return clickers[1].acked >= before + 60;
            }(),
            60000);
        QTRY_VERIFY_WITH_TIMEOUT(clickers[1].done, 20000);
        if (clickers[1].reply.value(QStringLiteral("success")) == QJsonValue(true))
            clickers[1].acked = clickers[1].sent;

        // Everything acknowledged is there; the batch that died with the process at most adds.
        const qint64 acknowledged = clickers[0].acked + clickers[1].acked;
        const qint64 stored = servers[1]->account(QStringLiteral("bob")).lifetimeClicks;
        QVERIFY2(
            stored >= acknowledged && stored <= acknowledged + 3,
            qPrintable(QStringLiteral("%1 stored, %2 acknowledged").arg(stored).arg(acknowledged)));
        // Sent again to the survivor, as the client's outbox does, it is credited exactly once.
        const QJsonObject resent = postAndWait(1, "click",
                                               {{"count", 3},
                                                {"sync_id", QStringLiteral("clicker-0")},
                                                {"sync_total", clickers[0].sent}});
        QCOMPARE(resent.value(QStringLiteral("success")), QJsonValue(true));
        QCOMPARE(servers[1]->account(QStringLiteral("bob")).lifetimeClicks,
                 clickers[0].sent + clickers[1].acked);
    }

    void workersServeOnOnePortAndOneMayDie()
    {
        servers[1] = std::make_unique<ReferenceServer>();
        servers[1]->setDatabaseUrl(scratch->url().toString());
        QVERIFY2(servers[1]->start({QStringLiteral("--click-rate"), QStringLiteral("0"),
                                    QStringLiteral("--workers"), QStringLiteral("2")}),
                 qPrintable(servers[1]->errorString()));
        static const QRegularExpression workersLine(QStringLiteral("^workers: (\\d+) (\\d+)$"),
                                                    QRegularExpression::MultilineOption);
        const QRegularExpressionMatch match = workersLine.match(servers[1]->output());
        QVERIFY2(match.hasMatch(), qPrintable(servers[1]->output()));
        const pid_t first = pid_t(match.captured(1).toLongLong());
        const pid_t second = pid_t(match.captured(2).toLongLong());
        QVERIFY(first != second && ::kill(first, 0) == 0 && ::kill(second, 0) == 0);

        QCOMPARE(postAndWait(1, "click", {{"count", 5}}).value(QStringLiteral("success")),
                 QJsonValue(true));
        ::kill(first, SIGKILL);
        // New connections go to the worker still listening, and then to the restarted one.
        for (int i = 0; i < 10; ++i) {
            network.clearConnectionCache();
            QCOMPARE(postAndWait(1, "click", {{"count", 5}}).value(QStringLiteral("success")),
                     QJsonValue(true));
        }
        QCOMPARE(servers[1]->account(QStringLiteral("bob")).lifetimeClicks, 55);
        // Stopping the server stops its workers.
        servers[1]->stop();
        QCOMPARE(servers[1]->exitCode(), 0);
        QTRY_VERIFY(::kill(second, 0) != 0);
    }

    void anSqliteFolderMovesIntoAnEmptyDatabase()
    {
        for (auto &server : servers)
            server.reset();
        servers[0] = std::make_unique<ReferenceServer>(); // SQLite
        QVERIFY(servers[0]->addUser(QStringLiteral("amy"), QStringLiteral("pw"), 5000));
        QVERIFY(servers[0]->start({QStringLiteral("--click-rate"), QStringLiteral("0")}));
        token.clear();
        token = data(postAndWait(
                         0, "login",
                         {{"username", QStringLiteral("amy")}, {"password", QStringLiteral("pw")}}))
                    .value(QStringLiteral("token"))
                    .toString();
        QVERIFY(!token.isEmpty());
        const QJsonObject batch{{"count", 7}, {"sync_id", QStringLiteral("s")}, {"sync_total", 7}};
        const QJsonObject deposit{{"clicks_amount", 100}, {"request_id", QStringLiteral("d")}};
        QCOMPARE(postAndWait(0, "click", batch).value(QStringLiteral("success")), QJsonValue(true));
        const QJsonObject deposited = postAndWait(0, "deposit", deposit);
        QCOMPARE(postAndWait(0, "exchange", {{"clicks_to_exchange", 3000}})
                     .value(QStringLiteral("success")),
                 QJsonValue(true));
        QCOMPARE(postAndWait(0, "buy_effect", {{"effect_id", 3}}).value(QStringLiteral("success")),
                 QJsonValue(true));
        const ReferenceServer::Account before = servers[0]->account(QStringLiteral("amy"));
        servers[0]->stop();

        const auto exportTo = [&](const QUrl &url, QString *output) {
            QProcess tool;
            tool.setProcessChannelMode(QProcess::MergedChannels);
            tool.start(ReferenceServer::binaryPath(),
                       {QStringLiteral("--data"), servers[0]->dataDir(),
                        QStringLiteral("--export-to"), url.toString()});
            tool.waitForFinished(60000);
            *output = QString::fromUtf8(tool.readAll());
            return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
        };
        QString output;
        // The database of init() holds bob: not empty, and left as it was.
        QCOMPARE(exportTo(scratch->url(), &output), 1);
        QVERIFY2(output.contains(QStringLiteral("is not empty")), qPrintable(output));
        ScratchDatabase target;
        QString error;
        QVERIFY2(target.create(&error), qPrintable(error));
        QCOMPARE(exportTo(target.url(), &output), 0);
        QVERIFY2(output.contains(QStringLiteral("exported 1 accounts, 1 owned effects")),
                 qPrintable(output));
        QCOMPARE(exportTo(target.url(), &output), 1);

        servers[1] = std::make_unique<ReferenceServer>();
        servers[1]->setDatabaseUrl(target.url().toString());
        QVERIFY(servers[1]->start({QStringLiteral("--click-rate"), QStringLiteral("0")}));
        const ReferenceServer::Account after = servers[1]->account(QStringLiteral("amy"));
        QCOMPARE(after.clicks, before.clicks);
        QCOMPARE(after.lifetimeClicks, before.lifetimeClicks);
        QCOMPARE(after.gold, before.gold);
        QCOMPARE(after.bankBalance, before.bankBalance);
        QCOMPARE(after.ownedEffects, QList<int>{3});
        // The old token still works; a resent batch and a repeated deposit change nothing.
        const QJsonObject resent = postAndWait(1, "click", batch);
        QCOMPARE(data(resent).value(QStringLiteral("credited")).toInteger(), 0);
        QCOMPARE(postAndWait(1, "deposit", deposit), deposited);
        QCOMPARE(servers[1]->account(QStringLiteral("amy")).clicks, before.clicks);
        // The password hash came along, and new accounts get new ids.
        QVERIFY(servers[1]->addUser(QStringLiteral("zoe"), QStringLiteral("pw")));
        QVERIFY(servers[1]->account(QStringLiteral("zoe")).id > after.id);
        token.clear();
        QCOMPARE(
            postAndWait(1, "login",
                        {{"username", QStringLiteral("amy")}, {"password", QStringLiteral("pw")}})
                .value(QStringLiteral("success")),
            QJsonValue(true));
        servers[1].reset();
    }
};

TAPTEMPEST_TEST_MAIN(TestServerProcesses)
#include "tst_serverprocesses.moc"
