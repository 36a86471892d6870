#include "feedback/clickbutton.h"
#include "mainwindow/mainwindow.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/clickoutbox.h"
#include "support/referenceserver.h"
#include "support/scriptedpeer.h"
#include "support/testenv.h"

#include <QFile>
#include <QLabel>
#include <QPointer>

// Between the client and the reference server sits a proxy that spoils click batches in every way
// a network can: refused connections, server errors, connections dropped mid-reply after the
// server has done the work, and answers that never come. No click may be lost or counted twice.
class TestFaults : public QObject
{
    Q_OBJECT

private:
    ReferenceServer server;
    ScriptedPeer proxy;
    int clickRequests = 0;
    QStringList faultsSeen;

    // Click batch n (1-based) meets fault n; later batches and every other request pass intact.
    ScriptedResponse route(const RecordedRequest &request)
    {
        if (request.action() != "click")
            return ScriptedResponse::forward();
        ++clickRequests;
        switch (clickRequests) {
        case 1:
            return ScriptedResponse::forward();
        case 2:
            faultsSeen << "500";
            return ScriptedResponse::raw(500, "Internal Server Error", "oops");
        case 3:
            faultsSeen << "cut after the server credited";
            return ScriptedResponse::forward(ScriptedResponse::CutMidReply);
        case 4:
            faultsSeen << "refused";
            refuseConnectionsFor(1500);
            return ScriptedResponse::close();
        case 5:
            faultsSeen << "stalled past the timeout after the server credited";
            return ScriptedResponse::forward(ScriptedResponse::Stall);
        case 6:
            faultsSeen << "closed before forwarding";
            return ScriptedResponse::close();
        case 7:
            faultsSeen << "cut again";
            return ScriptedResponse::forward(ScriptedResponse::CutMidReply);
        default:
            return ScriptedResponse::forward();
        }
    }

    void refuseConnectionsFor(int ms)
    {
        const quint16 port = proxy.serverPort();
        QTimer::singleShot(0, &proxy, [this, port, ms] {
            proxy.close();
            QTimer::singleShot(
                ms, &proxy, [this, port] { QVERIFY(proxy.listen(QHostAddress::LocalHost, port)); });
        });
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(server.start({"--click-rate", "0"}), qPrintable(server.errorString()));
        QVERIFY(server.addUser("faulty", "pw-faulty"));
        server.exportEnvironment();
        ApiClient::configureSsl();
        proxy.setUpstream(server.url());
        proxy.setHandler([this](const RecordedRequest &r) { return route(r); });
        QVERIFY(proxy.start());
        qputenv("TAPTEMPEST_SERVER_URL", proxy.url().toUtf8());
    }

    void everyClickCountsOnce()
    {
        testenv::clearSettings();
        AuthManager auth;
        ApiClient client;
        client.setAuthManager(&auth);
        bool loggedIn = false;
        client.login("faulty", "pw-faulty", [&](bool ok, const QJsonObject &data, const QString &) {
            if (ok)
                auth.handleLoginResponse(data);
            loggedIn = ok;
        });
        QTRY_VERIFY(loggedIn);

        QPointer<MainWindow> window = new MainWindow(&auth, &client);
        window->show();
        QTRY_VERIFY(!window->findChild<QLabel *>("clicksLabel")->text().isEmpty());
        auto *button = window->findChild<ClickButton *>("clickButton");

        const int total = 400;
        for (int i = 1; i <= total; ++i) {
            QTest::mouseClick(button, Qt::LeftButton);
            if (i % 20 == 0)
                QTest::qWait(250);
        }
        QCOMPARE(window->findChild<QLabel *>("clicksLabel")->text().toInt(),
                 auth.clicks() + window->unconfirmedClickCount());

        // Retries need no help: the 3-second tick resends whatever failed.
        QTRY_VERIFY_WITH_TIMEOUT(
            window->unconfirmedClickCount() == 0 && window->pendingClickCount() == 0, 90000);
        QVERIFY2(clickRequests >= 8, qPrintable(faultsSeen.join(", ")));
        QCOMPARE(faultsSeen.size(), 6);
        QTRY_COMPARE(proxy.forwardsInFlight(), 0);

        const ReferenceServer::Account account = server.account("faulty");
        QCOMPARE(account.lifetimeClicks, qint64(total));
        QCOMPARE(account.clicks, qint64(total));
        QCOMPARE(auth.clicks(), total);
        QCOMPARE(window->findChild<QLabel *>("clicksLabel")->text(), QString::number(total));

        // A fresh look at the server agrees with what the player sees.
        const int statsBefore = proxy.requestsFor("stats").size();
        window->loadUserStats();
        QTRY_COMPARE(proxy.requestsFor("stats").size(), statsBefore + 1);
        QTRY_COMPARE(client.requestsInFlight(), 0);
        QCOMPARE(auth.clicks(), total);
        QCOMPARE(window->findChild<QLabel *>("clicksLabel")->text(), QString::number(total));
        delete window;
    }

    // Two games of one account at once, both holding the same clicks an earlier game left in the
    // outbox: both send them, the server credits them once.
    void twoClientsOfOneAccountCreditOnce()
    {
        testenv::clearSettings();
        QVERIFY(server.addUser("twin", "pw-twin"));
        qputenv("TAPTEMPEST_SERVER_URL", server.url().toUtf8());
        struct Game
        {
            AuthManager auth;
            ApiClient client;
            QPointer<MainWindow> window;
        };
        Game a, b;
        for (Game *game : {&a, &b}) {
            game->client.setAuthManager(&game->auth);
            bool loggedIn = false;
            game->client.login("twin", "pw-twin",
                               [&](bool ok, const QJsonObject &data, const QString &) {
                                   if (ok)
                                       game->auth.handleLoginResponse(data);
                                   loggedIn = ok;
                               });
            QTRY_VERIFY(loggedIn);
        }
        QCOMPARE(a.auth.userId(), b.auth.userId());
        const QString account = ClickOutbox::accountKey(a.auth.userId(), "twin");
        {
            ClickOutbox earlier(server.url(), account);
            earlier.record("earlier-game", 7);
        }

        for (Game *game : {&a, &b}) {
            game->window = new MainWindow(&game->auth, &game->client);
            QCOMPARE(game->window->unconfirmedClickCount(), 7);
        }
        for (Game *game : {&a, &b})
            game->window->show();
        for (Game *game : {&a, &b}) {
            auto *button = game->window->findChild<ClickButton *>("clickButton");
            for (int i = 0; i < 5; ++i)
                QTest::mouseClick(button, Qt::LeftButton);
        }
        for (Game *game : {&a, &b})
            QTRY_VERIFY_WITH_TIMEOUT(game->window->unconfirmedClickCount() == 0 &&
                                         game->window->pendingClickCount() == 0,
                                     10000);

        const ReferenceServer::Account twin = server.account("twin");
        QCOMPARE(twin.lifetimeClicks, qint64(7 + 5 + 5));
        QCOMPARE(twin.clicks, qint64(17));
        QVERIFY(!QFile::exists(ClickOutbox::filePath(server.url(), account)));
        for (Game *game : {&a, &b})
            delete game->window;
        qputenv("TAPTEMPEST_SERVER_URL", proxy.url().toUtf8());
    }
};

TAPTEMPEST_TEST_MAIN(TestFaults)
#include "tst_faults.moc"
