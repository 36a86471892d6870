#include "game/gamesession.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/clickoutbox.h"
#include "support/scriptedclient.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <memory>

namespace {

// Ticks that never come during a test, unless it starts them.
GameSession::Intervals noTick()
{
    GameSession::Intervals intervals;
    intervals.syncMs = 3600 * 1000;
    return intervals;
}

} // namespace

// The rules without a window: GameSession against the scripted peer, with injected intervals.
class TestGameSession : public QObject, private ScriptedClient
{
    Q_OBJECT

    std::unique_ptr<GameSession> session;
    std::unique_ptr<QSignalSpy> messages;

    void open(const GameSession::Intervals &intervals = noTick())
    {
        session = std::make_unique<GameSession>(auth.get(), api.get(), intervals);
        messages = std::make_unique<QSignalSpy>(session.get(), &GameSession::message);
    }
    QString lastMessage() const
    {
        return messages->isEmpty() ? QString() : messages->last().at(0).toString();
    }
    // What the next start of the program would find owed for alice.
    qint64 owedOnDisk() const
    {
        ClickOutbox next(peer->url(), ClickOutbox::accountKey(QString(), "alice"));
        qint64 owed = 0;
        for (const ClickOutbox::Entry &e : next.inherited())
            owed += e.owed();
        return owed;
    }
    QStringList journals() const
    {
        const QFileInfo info(ClickOutbox::filePath(peer->url(), "name:alice"));
        return info.dir().entryList({info.completeBaseName() + ".*.journal"}, QDir::Files);
    }

private slots:
    void init()
    {
        QVERIFY(ScriptedClient::start());
        auth->handleLoginResponse(QJsonObject{{"username", "alice"}, {"token", "tok"}});
    }

    void cleanup()
    {
        session.reset();
        messages.reset();
        ScriptedClient::stop();
    }

    // Seven clicks with the server down and no tick yet: a kill now must not lose them.
    void clicksReachTheDiskBeforeAnyTick()
    {
        peer->setFallback(ScriptedResponse::close());
        open();
        for (int i = 0; i < 7; ++i)
            session->click();
        QCOMPARE(session->shownClicks(), 7);
        QVERIFY(peer->requests.isEmpty());
        // Within the journal period, read as a restart would, with this session still open.
        QTRY_COMPARE_WITH_TIMEOUT(owedOnDisk(), 7, 1000);
        // A burst is one journal line, not one per click.
        QCOMPARE(journals().size(), 1);
        QFile journal(QFileInfo(ClickOutbox::filePath(peer->url(), "name:alice"))
                          .dir()
                          .filePath(journals().first()));
        QVERIFY(journal.open(QIODevice::ReadOnly));
        QCOMPARE(journal.readAll(), QByteArray("7 0\n"));
    }

    // Once the server confirms them, the journal is folded away and nothing is owed.
    void confirmedClicksLeaveNoJournal()
    {
        peer->setFallback(ScriptedResponse::ok(QJsonObject{{"total_clicks", 20}}));
        open();
        for (int i = 0; i < 5; ++i)
            session->click();
        QTRY_COMPARE(journals().size(), 1);
        for (int i = 0; i < 15; ++i)
            session->click();
        QTRY_COMPARE(session->unconfirmedClickCount(), 0);
        QTRY_VERIFY(journals().isEmpty());
        QCOMPARE(owedOnDisk(), 0);
        QCOMPARE(lastMessage(), QString("已同步到服务器"));
    }

    void clicksAreBatchedAtTheThresholdOrTheTick()
    {
        peer->setFallback(ScriptedResponse::ok(QJsonObject{{"total_clicks", 3}}));
        GameSession::Intervals intervals;
        intervals.syncMs = 200;
        open(intervals);
        session->click();
        session->click();
        session->click();
        QCOMPARE(session->pendingClickCount(), 3);
        QTRY_COMPARE(peer->requestsFor("click").size(), 1);
        QCOMPARE(peer->requestsFor("click")[0].json().value("count").toInt(), 3);
        QTRY_COMPARE(session->unconfirmedClickCount(), 0);
        QCOMPARE(session->shownClicks(), 3);
        QCOMPARE(session->intervals().syncMs, 200);
        QCOMPARE(GameSession::Intervals().syncMs, 3000);
    }

    // What a server leaves out reads as 0; a balance comes from "balance", else "bank_balance".
    void missingFigures()
    {
        auth->updateStats(1000, 7, "0");
        peer->setFallback(ScriptedResponse::ok(QJsonObject()));
        open();
        for (int i = 0; i < GameSession::syncThreshold; ++i)
            session->click();
        QTRY_COMPARE(session->unconfirmedClickCount(), 0);
        QCOMPARE(session->shownClicks(), 0);
        QCOMPARE(session->gold(), 0);

        peer->enqueue(ScriptedResponse::ok(QJsonObject{{"total_clicks", 5}, {"bank_balance", 42}}));
        session->loadStats();
        QTRY_COMPARE(session->balance(), QString("42"));
        peer->enqueue(ScriptedResponse::ok(QJsonObject{{"balance", 99.6}, {"bank_balance", 1}}));
        session->loadStats();
        QTRY_COMPARE(session->balance(), QString("100"));
        QCOMPARE(session->shownClicks(), 0);
        peer->enqueue(ScriptedResponse::ok(QJsonObject{{"total_clicks", 5}}));
        session->loadStats();
        QTRY_COMPARE(session->shownClicks(), 5);
        QCOMPARE(session->balance(), QString("0"));
    }

    void badFiguresKeepWhatIsShown_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        const QJsonObject good{{"total_clicks", 5}, {"gold", 2}, {"balance", 30}};
        auto with = [&good](const char *member, const QJsonValue &value) {
            QJsonObject bad = good;
            bad.insert(member, value);
            return bad;
        };
        QTest::newRow("negative clicks") << with("total_clicks", -5);
        QTest::newRow("fractional gold") << with("gold", 12.5);
        QTest::newRow("clicks as text") << with("total_clicks", "4294967316");
        QTest::newRow("clicks beyond 2^63") << with("total_clicks", 1e19);
        QTest::newRow("balance beyond 2^63") << with("balance", 1e308);
        QTest::newRow("negative balance") << with("balance", -1);
        QTest::newRow("balance as text") << with("balance", "lots");
    }

    void badFiguresKeepWhatIsShown()
    {
        QFETCH(QJsonObject, reply);
        peer->enqueue(ScriptedResponse::ok(
            QJsonObject{{"total_clicks", 9}, {"gold", 4}, {"balance", 1250.4}}));
        peer->enqueue(ScriptedResponse::ok(reply));
        open();
        QSignalSpy figures(session.get(), &GameSession::figuresChanged);
        session->loadStats();
        QTRY_COMPARE(figures.size(), 1);
        QCOMPARE(session->balance(), QString("1250"));
        session->loadStats();
        QTRY_COMPARE(lastMessage(), QString("加载用户数据失败: 服务器返回的数据无效"));
        QCOMPARE(figures.size(), 1);
        QCOMPARE(session->shownClicks(), 9);
        QCOMPARE(session->gold(), 4);
        QCOMPARE(session->balance(), QString("1250"));
    }

    // Expiry is the server's 401, whatever the texts say.
    void expiryIsDecidedOnTheStatus()
    {
        QSignalSpy expired(auth.get(), &AuthManager::tokenExpired);
        open();
        QSignalSpy ended(session.get(), &GameSession::sessionExpired);
        peer->enqueue(ScriptedResponse::fail("请先登录 Token 401"));
        session->loadStats();
        QTRY_COMPARE(lastMessage(), QString("加载用户数据失败: 请先登录 Token 401"));
        QVERIFY(auth->isLoggedIn());
        QCOMPARE(expired.size(), 0);

        peer->enqueue(ScriptedResponse::raw(401, "Unauthorized", "{}"));
        session->loadStats();
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(lastMessage(), QString("登录已过期，请重新登录"));
        QVERIFY(!auth->isLoggedIn());
        QCOMPARE(expired.size(), 1);
    }

    // What a session asked for and had not got at logout reaches no window opened since.
    void requestsInFlightAtLogoutStayQuiet()
    {
        peer->setFallback(ScriptedResponse::noAnswer());
        QSignalSpy broadcast(api.get(), &ApiClient::networkError);
        open();
        session->loadStats();
        session->click();
        session->logout();
        QTRY_COMPARE(peer->heldCount(), 2);
        session.reset();
        peer->releaseHeld(ScriptedResponse::raw(500, "Internal Server Error", ""));
        QTRY_COMPARE(api->requestsInFlight(), 0);
        QCOMPARE(broadcast.size(), 0);
    }
};

TAPTEMPEST_TEST_MAIN(TestGameSession)
#include "tst_gamesession.moc"
