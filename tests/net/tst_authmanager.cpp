#include "net/authmanager.h"
#include "support/testenv.h"

#include <QSettings>
#include <QSignalSpy>

class TestAuthManager : public QObject
{
    Q_OBJECT

private slots:
    void init() { testenv::clearSettings(); }

    void freshStoreIsLoggedOut()
    {
        AuthManager auth;
        QVERIFY(!auth.isLoggedIn());
        QVERIFY(!auth.hasToken());
        QCOMPARE(auth.balance(), QString("0"));
        QCOMPARE(auth.savedToken(), QString());
    }

    void emptySavedTokenIsLoggedOut()
    {
        QSettings().setValue("auth/token", "");
        QSettings().setValue("auth/username", "ghost");
        AuthManager auth;
        QVERIFY(!auth.isLoggedIn());
        QVERIFY(!auth.hasToken());
    }

    void sessionSurvivesRestartButFiguresDoNot()
    {
        {
            AuthManager auth;
            QSignalSpy spy(&auth, &AuthManager::loginSuccess);
            auth.handleLoginResponse(QJsonObject{{"username", "alice"},
                                                 {"token", "abc"},
                                                 {"user_id", "7"},
                                                 {"balance", 80},
                                                 {"gold", 3},
                                                 {"clicks", 12}});
            QCOMPARE(spy.count(), 1);
            QCOMPARE(spy.at(0).at(0).toString(), QString("alice"));
            auth.updateStats(500, 9, "1000");
        }
        AuthManager restarted;
        QVERIFY(restarted.isLoggedIn());
        QCOMPARE(restarted.token(), QString("abc"));
        QCOMPARE(restarted.username(), QString("alice"));
        QCOMPARE(restarted.userId(), QString("7"));
        QCOMPARE(restarted.clicks(), 0);
        QCOMPARE(restarted.gold(), 0);
        QCOMPARE(restarted.balance(), QString("0"));
    }

    void logoutForgetsEverything()
    {
        AuthManager auth;
        auth.handleLoginResponse(
            QJsonObject{{"username", "alice"}, {"token", "abc"}, {"user_id", "7"}, {"gold", 4}});
        QSignalSpy spy(&auth, &AuthManager::logoutSuccess);
        auth.logout();
        QCOMPARE(spy.count(), 1);
        QVERIFY(!auth.isLoggedIn());
        QCOMPARE(auth.savedToken(), QString());
        QCOMPARE(auth.gold(), 0);
        QCOMPARE(auth.balance(), QString("0"));
        QSettings settings;
        QVERIFY(!settings.contains("auth/token"));
        QVERIFY(!settings.contains("auth/username"));
        QVERIFY(!settings.contains("auth/user_id"));
        AuthManager restarted;
        QVERIFY(!restarted.isLoggedIn());
    }

    void loginReplyFields_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("gold");
        QTest::addColumn<QString>("balance");
        QTest::addColumn<QString>("userId");
        QTest::newRow("clicks preferred")
            << QJsonObject{{"clicks", 5}, {"total_clicks", 9}} << 5 << 0 << "0"
            << "";
        QTest::newRow("total_clicks fallback") << QJsonObject{{"total_clicks", 9}} << 9 << 0 << "0"
                                               << "";
        QTest::newRow("clicks not a number")
            << QJsonObject{{"clicks", "5"}, {"total_clicks", 9}} << 9 << 0 << "0"
            << "";
        QTest::newRow("gold rounds half up") << QJsonObject{{"gold", 7.5}} << 0 << 8 << "0"
                                             << "";
        QTest::newRow("gold rounds half away from zero")
            << QJsonObject{{"gold", -2.5}} << 0 << -3 << "0"
            << "";
        QTest::newRow("gold as text") << QJsonObject{{"gold", "12"}} << 0 << 0 << "0"
                                      << "";
        QTest::newRow("balance without decimals")
            << QJsonObject{{"balance", 1234.25}} << 0 << 0 << "1234"
            << "";
        QTest::newRow("numeric user id") << QJsonObject{{"user_id", 42}} << 0 << 0 << "0"
                                         << "42";
        QTest::newRow("large numeric user id")
            << QJsonObject{{"user_id", 3000000000.0}} << 0 << 0 << "0"
            << "3000000000";
    }

    void loginReplyFields()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(int, clicks);
        QFETCH(int, gold);
        QFETCH(QString, balance);
        QFETCH(QString, userId);
        reply.insert("token", "t");
        AuthManager auth;
        auth.handleLoginResponse(reply);
        QCOMPARE(auth.clicks(), clicks);
        QCOMPARE(auth.gold(), gold);
        QCOMPARE(auth.balance(), balance);
        QCOMPARE(auth.userId(), userId);
        QCOMPARE(QSettings().value("auth/user_id").toString(), userId);
    }

    void countsBeyond32Bits()
    {
        AuthManager auth;
        auth.handleLoginResponse(
            QJsonObject{{"token", "t"}, {"clicks", Q_INT64_C(9000000000)}, {"gold", 3000000000.0}});
        QCOMPARE(auth.clicks(), Q_INT64_C(9000000000));
        QCOMPARE(auth.gold(), Q_INT64_C(3000000000));
        AuthManager fallback;
        fallback.handleLoginResponse(
            QJsonObject{{"token", "t"}, {"total_clicks", Q_INT64_C(2147483648)}});
        QCOMPARE(fallback.clicks(), Q_INT64_C(2147483648));
        auth.updateStats(Q_INT64_C(9000000001), Q_INT64_C(5000000000), "1");
        QCOMPARE(auth.clicks(), Q_INT64_C(9000000001));
        QCOMPARE(auth.gold(), Q_INT64_C(5000000000));
    }

    void emptyTokenIsStillALogin()
    {
        AuthManager auth;
        auth.handleLoginResponse(QJsonObject{{"username", "x"}});
        QVERIFY(auth.isLoggedIn());
        QVERIFY(!auth.hasToken());
    }

    void setUsernameKeepsOldNameForEmptyText()
    {
        AuthManager auth;
        auth.handleLoginResponse(QJsonObject{{"username", "alice"}, {"token", "t"}});
        auth.setUsername("");
        QCOMPARE(auth.username(), QString("alice"));
        auth.setUsername("bob");
        QCOMPARE(auth.username(), QString("bob"));
        // Not saved: the store keeps the login's name.
        QCOMPARE(QSettings().value("auth/username").toString(), QString("alice"));
    }
};

TAPTEMPEST_TEST_MAIN(TestAuthManager)
#include "tst_authmanager.moc"
