// The client's own ApiClient against the reference server over HTTPS: every action's reply, the
// refusals a player can meet, sessions, purchases and the ranking.

#include "net/apiclient.h"
#include "net/authmanager.h"
#include "scratchdatabase.h"
#include "support/referenceserver.h"
#include "support/testenv.h"

#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>

namespace {

struct Outcome
{
    bool done = false;
    bool success = false;
    QJsonObject data;
    QJsonArray array;
    QString error;
};

} // namespace

class TestServerProtocol : public QObject
{
    Q_OBJECT

private:
    ScratchDatabase scratch; // outlives the server
    ReferenceServer server;
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<ApiClient> api;

    // Runs one request and waits for its callback.
    template <typename Request> Outcome call(Request request)
    {
        auto outcome = std::make_shared<Outcome>();
        request([outcome](bool success, const QJsonObject &data, const QString &error) {
            outcome->done = true;
            outcome->success = success;
            outcome->data = data;
            outcome->error = error;
        });
        (void)QTest::qWaitFor([&] { return outcome->done; }, 15000);
        return *outcome;
    }

    template <typename Request> Outcome callArray(Request request)
    {
        auto outcome = std::make_shared<Outcome>();
        request([outcome](bool success, const QJsonArray &array, const QString &error) {
            outcome->done = true;
            outcome->success = success;
            outcome->array = array;
            outcome->error = error;
        });
        (void)QTest::qWaitFor([&] { return outcome->done; }, 15000);
        return *outcome;
    }

    Outcome login(const QString &name, const QString &password)
    {
        return call([&](ApiCallback done) { api->login(name, password, done); });
    }
    // Adds an account and makes it the session of `auth`.
    bool signIn(const QString &name, const QString &password = QStringLiteral("pw"))
    {
        if (!server.account(name).found && !server.addUser(name, password))
            return false;
        const Outcome outcome = login(name, password);
        if (!outcome.success)
            return false;
        auth->handleLoginResponse(outcome.data);
        return auth->isLoggedIn();
    }
    Outcome click(int count)
    {
        return call([&](ApiCallback done) { api->sendClicks(count, done); });
    }
    Outcome exchange(int clicks)
    {
        return call([&](ApiCallback done) { api->exchangeGold(clicks, done); });
    }
    Outcome deposit(int clicks)
    {
        return call([&](ApiCallback done) { api->depositToBank(clicks, done); });
    }
    Outcome buy(int effectId)
    {
        return call([&](ApiCallback done) { api->buyEffect(effectId, done); });
    }
    Outcome stats()
    {
        return call([&](ApiCallback done) { api->fetchStats(done); });
    }
    Outcome ranking(int limit)
    {
        return callArray([&](ApiArrayCallback done) { api->fetchRanking(limit, done); });
    }
    Outcome effects()
    {
        return callArray([&](ApiArrayCallback done) { api->fetchEffects(done); });
    }

private slots:
    void initTestCase()
    {
        if (ScratchDatabase::wanted()) {
            if (!ScratchDatabase::unavailableReason().isEmpty())
                QSKIP(ScratchDatabase::skipMessage().constData());
            QString error;
            QVERIFY2(scratch.create(&error), qPrintable(error));
            server.setDatabaseUrl(scratch.url().toString());
        }
        QVERIFY2(server.start({QStringLiteral("--click-rate"), QStringLiteral("0")}),
                 qPrintable(server.errorString()));
        server.exportEnvironment();
        ApiClient::configureSsl(); // verifies the server against its own certificate only
    }

    void init()
    {
        auth = std::make_unique<AuthManager>();
        api = std::make_unique<ApiClient>();
        api->setAuthManager(auth.get());
        QCOMPARE(api->endpoint(), server.url());
    }

    void cleanup()
    {
        api.reset();
        auth.reset();
    }

    void loginOpensASession()
    {
        QVERIFY(server.addUser(QStringLiteral("alice"), QStringLiteral("wonder-land")));
        QSignalSpy networkErrors(api.get(), &ApiClient::networkError);

        Outcome outcome = login(QStringLiteral("alice"), QStringLiteral("wrong"));
        QVERIFY(outcome.done);
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.error, QStringLiteral("用户名或密码错误"));
        outcome = login(QStringLiteral("nobody"), QStringLiteral("wonder-land"));
        QCOMPARE(outcome.error, QStringLiteral("用户名或密码错误"));

        outcome = login(QStringLiteral("alice"), QStringLiteral("wonder-land"));
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        const QJsonObject data = outcome.data;
        QCOMPARE(data.value("username").toString(), QStringLiteral("alice"));
        QVERIFY(data.value("token").isString());
        QCOMPARE(data.value("token").toString().size(), 64);
        QVERIFY(data.value("user_id").isString());
        QCOMPARE(data.value("user_id").toString(),
                 QString::number(server.account(QStringLiteral("alice")).id));
        QVERIFY(data.value("balance").isDouble());
        QVERIFY(data.value("gold").isDouble());
        QVERIFY(data.value("clicks").isDouble());
        QCOMPARE(networkErrors.count(), 0);

        // Before the session is handed to the store, requests go without a token.
        outcome = stats();
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.error, QStringLiteral("需要登录或Token无效 (401)"));
        QCOMPARE(networkErrors.count(), 1);

        auth->handleLoginResponse(data);
        outcome = stats();
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        QCOMPARE(outcome.data.value("username").toString(), QStringLiteral("alice"));
        QCOMPARE(server.account(QStringLiteral("alice")).sessions, 1);
    }

    void guessingLocksTheNameForAMinute()
    {
        QVERIFY(server.addUser(QStringLiteral("target"), QStringLiteral("right")));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(login(QStringLiteral("target"), QStringLiteral("guess")).error,
                     QStringLiteral("用户名或密码错误"));
        const Outcome locked = login(QStringLiteral("target"), QStringLiteral("right"));
        QVERIFY(!locked.success);
        QVERIFY2(locked.error.contains(QStringLiteral("次数过多")), qPrintable(locked.error));
        QCOMPARE(server.account(QStringLiteral("target")).sessions, 0);
    }

    void everyActionRepliesWithItsMembers()
    {
        QVERIFY(signIn(QStringLiteral("bob")));
        Outcome outcome = click(10234);
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        QCOMPARE(outcome.data.value("total_clicks").toInt(), 10234);
        QVERIFY(outcome.data.value("gold").isDouble());
        QCOMPARE(outcome.data.value("gold").toInt(), 0);

        outcome = exchange(6050);
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        QCOMPARE(outcome.data.value("new_gold").toInt(), 60);
        QCOMPARE(outcome.data.value("remaining_clicks").toInt(), 4234);

        outcome = deposit(234);
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        QVERIFY(outcome.data.value("new_bank_balance").isDouble());
        QCOMPARE(outcome.data.value("new_bank_balance").toDouble(), 2340.0);
        QCOMPARE(outcome.data.value("remaining_clicks").toInt(), 4000);
        QCOMPARE(outcome.data.value("yuan_converted").toInt(), 2340);

        outcome = buy(1);
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        QCOMPARE(outcome.data.value("new_gold").toInt(), 10);
        QCOMPARE(outcome.data.value("effect_name").toString(), QStringLiteral("星星"));

        outcome = stats();
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        QCOMPARE(outcome.data.value("total_clicks").toInt(), 4000);
        QCOMPARE(outcome.data.value("gold").toInt(), 10);
        QCOMPARE(outcome.data.value("balance").toDouble(), 2340.0);
        QCOMPARE(outcome.data.value("username").toString(), QStringLiteral("bob"));
        const QJsonArray owned = outcome.data.value("effects").toArray();
        QCOMPARE(owned.size(), 1);
        QCOMPARE(owned.at(0).toObject().value("css_class").toString(),
                 QStringLiteral("effect-star"));

        outcome = ranking(100);
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        bool listed = false;
        for (const QJsonValue &row : outcome.array) {
            QVERIFY(row.toObject().value("username").isString());
            QVERIFY(row.toObject().value("total_clicks").isDouble());
            if (row.toObject().value("username").toString() == QLatin1String("bob")) {
                listed = true;
                // The ranking counts every click ever made, spent or not.
                QCOMPARE(row.toObject().value("total_clicks").toInt(), 10234);
            }
        }
        QVERIFY(listed);

        outcome = effects();
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        QCOMPARE(outcome.array.size(), 39);
        for (int i = 0; i < outcome.array.size(); ++i) {
            const QJsonObject effect = outcome.array.at(i).toObject();
            QCOMPARE(effect.value("id").toInt(), i + 1);
            QVERIFY(effect.value("css_class").toString().startsWith(QLatin1String("effect-")));
            QVERIFY(!effect.value("name").toString().isEmpty());
            QVERIFY(effect.value("price").toInt() > 0);
            QVERIFY(effect.value("owned").isBool());
            QCOMPARE(effect.value("owned").toBool(), i == 0);
        }
        const QJsonObject genesis = outcome.array.at(38).toObject();
        QCOMPARE(genesis.value("css_class").toString(), QStringLiteral("effect-genesis"));
        QCOMPARE(genesis.value("name").toString(), QStringLiteral("创世"));
        QCOMPARE(genesis.value("price").toInt(), 5000);

        // The store of the database agrees with what the client was told.
        const ReferenceServer::Account account = server.account(QStringLiteral("bob"));
        QCOMPARE(account.clicks, 4000);
        QCOMPARE(account.lifetimeClicks, 10234);
        QCOMPARE(account.gold, 10);
        QCOMPARE(account.bankBalance, 2340);
        QCOMPARE(account.ownedEffects, QList<int>{1});
    }

    void refusalsAreMessagesAndChangeNothing()
    {
        QVERIFY(signIn(QStringLiteral("carol")));
        QVERIFY(click(5150).success);
        QVERIFY(exchange(5000).success); // 50 gold, 150 clicks
        QVERIFY(buy(3).success);         // 30: 20 gold left
        QSignalSpy networkErrors(api.get(), &ApiClient::networkError);
        const Outcome before = stats();
        QVERIFY(before.success);

        const struct
        {
            const char *what;
            Outcome outcome;
            QString message; // empty: any non-empty text
        } refusals[] = {
            {"exchange 99", exchange(99), QString()},
            {"exchange more than owned", exchange(200), QString()},
            {"deposit nothing", deposit(0), QString()},
            {"deposit more than owned", deposit(151), QString()},
            {"click nothing", click(0), QString()},
            {"click negative", click(-40), QString()},
            {"buy an owned effect", buy(3), QStringLiteral("您已经拥有此特效")},
            {"buy too dear", buy(10), QStringLiteral("金币不足")},
            {"buy an unknown effect", buy(40), QStringLiteral("特效不存在")},
        };
        for (const auto &refusal : refusals) {
            QVERIFY2(refusal.outcome.done && !refusal.outcome.success, refusal.what);
            QVERIFY2(refusal.outcome.data.isEmpty(), refusal.what);
            if (refusal.message.isEmpty())
                QVERIFY2(!refusal.outcome.error.isEmpty(), refusal.what);
            else
                QCOMPARE(refusal.outcome.error, refusal.message);
            QVERIFY2(!refusal.outcome.error.contains(QLatin1String("HTTP")), refusal.what);
        }
        QCOMPARE(networkErrors.count(), 0);
        QCOMPARE(stats().data, before.data);
        QCOMPARE(server.account(QStringLiteral("carol")).ownedEffects, QList<int>{3});
    }

    void aPurchaseIsAllOrNothing()
    {
        QVERIFY(signIn(QStringLiteral("dave")));
        QVERIFY(click(6000).success);
        QVERIFY(exchange(6000).success); // 60 gold
        // Three purchases at once; 60 gold pays for only one of them.
        QList<Outcome> outcomes(3);
        int done = 0;
        const int ids[] = {1, 14, 1}; // 50, 55, 50
        for (int i = 0; i < 3; ++i) {
            api->buyEffect(ids[i],
                           [&, i](bool success, const QJsonObject &data, const QString &error) {
                               outcomes[i].success = success;
                               outcomes[i].data = data;
                               outcomes[i].error = error;
                               ++done;
                           });
        }
        QTRY_COMPARE_WITH_TIMEOUT(done, 3, 15000);
        int winner = -1;
        for (int i = 0; i < 3; ++i) {
            if (outcomes[i].success) {
                QCOMPARE(winner, -1);
                winner = i;
            } else {
                QVERIFY2(outcomes[i].error == QStringLiteral("金币不足") ||
                             outcomes[i].error == QStringLiteral("您已经拥有此特效"),
                         qPrintable(outcomes[i].error));
            }
        }
        QVERIFY(winner >= 0);
        const int price = ids[winner] == 1 ? 50 : 55;
        QCOMPARE(outcomes[winner].data.value("new_gold").toInt(), 60 - price);
        const ReferenceServer::Account account = server.account(QStringLiteral("dave"));
        QCOMPARE(account.gold, 60 - price);
        QCOMPARE(account.ownedEffects, QList<int>{ids[winner]});
    }

    void deadSessionsGet401()
    {
        QVERIFY(signIn(QStringLiteral("erin")));
        QVERIFY(click(10).success);
        QSignalSpy networkErrors(api.get(), &ApiClient::networkError);

        QVERIFY(server.expireSessions(QStringLiteral("erin")));
        for (const Outcome &outcome : {stats(), click(5), buy(3)}) {
            QVERIFY(!outcome.success);
            QCOMPARE(outcome.error, QStringLiteral("需要登录或Token无效 (401)"));
        }
        auth->setToken(QStringLiteral("not-a-token"));
        QCOMPARE(stats().error, QStringLiteral("需要登录或Token无效 (401)"));
        QCOMPARE(effects().error, QStringLiteral("需要登录或Token无效 (401)"));
        QCOMPARE(networkErrors.count(), 5);
        QCOMPARE(server.account(QStringLiteral("erin")).lifetimeClicks, 10);
    }

    void rankingOrderAndLimit()
    {
        // Far ahead of everyone else in this run; two of them tied.
        const QList<QPair<QString, int>> leaders = {{QStringLiteral("zoe"), 250000},
                                                    {QStringLiteral("ben"), 200000},
                                                    {QStringLiteral("ann"), 200000},
                                                    {QStringLiteral("cid"), 150000}};
        for (const auto &leader : leaders) {
            QVERIFY(signIn(leader.first));
            for (int left = leader.second; left > 0; left -= 100000)
                QVERIFY(click(qMin(left, 100000)).success);
            QVERIFY(deposit(1000).success); // spending leaves the ranking alone
        }
        const auto names = [](const Outcome &outcome) {
            QStringList list;
            for (const QJsonValue &row : outcome.array)
                list << row.toObject().value("username").toString();
            return list;
        };
        QCOMPARE(names(ranking(4)), (QStringList{"zoe", "ann", "ben", "cid"}));
        QCOMPARE(names(ranking(2)), (QStringList{"zoe", "ann"}));
        QCOMPARE(names(ranking(0)), QStringList{"zoe"});

        const Outcome all = ranking(1000);
        QVERIFY(all.success);
        QVERIFY(all.array.size() >= 8);
        for (int i = 1; i < all.array.size(); ++i) {
            const QJsonObject up = all.array.at(i - 1).toObject();
            const QJsonObject down = all.array.at(i).toObject();
            const int upClicks = up.value("total_clicks").toInt();
            const int downClicks = down.value("total_clicks").toInt();
            QVERIFY(upClicks > downClicks ||
                    (upClicks == downClicks &&
                     up.value("username").toString() < down.value("username").toString()));
            QCOMPARE(downClicks,
                     int(server.account(down.value("username").toString()).lifetimeClicks));
        }
    }

    void antiCheatCreditsUpToTheAllowance()
    {
        // A second server with the default allowance, presenting the same certificate.
        ReferenceServer strict;
        QVERIFY2(strict.start({QStringLiteral("--cert"), server.caFile(), QStringLiteral("--key"),
                               server.dataDir() + QStringLiteral("/key.pem")}),
                 qPrintable(strict.errorString()));
        QVERIFY(strict.addUser(QStringLiteral("fast"), QStringLiteral("pw")));
        strict.exportEnvironment();
        ApiClient strictApi;
        strictApi.setAuthManager(auth.get());
        server.exportEnvironment();

        Outcome outcome = call([&](ApiCallback done) {
            strictApi.login(QStringLiteral("fast"), QStringLiteral("pw"), done);
        });
        QVERIFY2(outcome.success, qPrintable(outcome.error));
        auth->handleLoginResponse(outcome.data);
        // Thousands of clicks right after the account was made: only part is credited, and the
        // reply still succeeds with the real total, so the client does not send it again.
        qint64 total = 0;
        for (int i = 0; i < 2; ++i) {
            outcome = call([&](ApiCallback done) { strictApi.sendClicks(5000, done); });
            QVERIFY2(outcome.success, qPrintable(outcome.error));
            const qint64 reported = outcome.data.value("total_clicks").toInteger();
            QVERIFY2(reported >= total + 20 && reported < total + 5000,
                     qPrintable(QString::number(reported)));
            total = reported;
        }
        QCOMPARE(strict.account(QStringLiteral("fast")).clicks, total);
        QCOMPARE(strict.account(QStringLiteral("fast")).lifetimeClicks, total);
    }
};

TAPTEMPEST_TEST_MAIN(TestServerProtocol)
#include "tst_serverprotocol.moc"
