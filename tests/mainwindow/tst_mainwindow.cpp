#include "dialogs/settingsdialog.h"
#include "feedback/clickbutton.h"
#include "feedback/effectmanager.h"
#include "mainwindow/mainwindow.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "support/modalscript.h"
#include "support/scriptedpeer.h"
#include "support/testenv.h"

#include <QCheckBox>
#include <QHostAddress>
#include <QJsonArray>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <memory>

namespace {

// A small game server behind the scripted peer: it adds up clicks and answers statistics; any
// action can be overridden with queued responses.
struct FakeGame
{
    int clicks = 1000;
    int gold = 7;
    double balance = 120;
    bool failClicks = false;
    bool holdClicks = false;
    bool statsHeld = false; // the next statistics request waits for releaseHeld()
    QMap<QString, QQueue<ScriptedResponse>> overrides;

    ScriptedResponse handle(const RecordedRequest &request)
    {
        const QString action = request.action();
        if (!overrides.value(action).isEmpty())
            return overrides[action].dequeue();
        if (action == "click") {
            if (holdClicks)
                return ScriptedResponse::noAnswer();
            if (failClicks)
                return ScriptedResponse::raw(503, "Service Unavailable", "");
            clicks += request.json().value("count").toInt();
            return ScriptedResponse::ok(QJsonObject{{"total_clicks", clicks}, {"gold", gold}});
        }
        if (action == "stats" && statsHeld) {
            statsHeld = false;
            return ScriptedResponse::noAnswer();
        }
        if (action == "stats")
            return ScriptedResponse::ok(QJsonObject{{"total_clicks", clicks},
                                                    {"gold", gold},
                                                    {"balance", balance},
                                                    {"username", "alice"}});
        return ScriptedResponse::fail("unexpected");
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScriptedPeer> peer;
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<ApiClient> client;
    std::unique_ptr<FakeGame> game;
    QPointer<MainWindow> window;

    QLabel *label(const char *name) { return window->findChild<QLabel *>(name); }
    QString shown(const char *name) { return label(name)->text(); }
    QString toast() { return label("toastLabel")->isVisible() ? shown("toastLabel") : QString(); }
    ClickButton *clickButton() { return window->findChild<ClickButton *>("clickButton"); }
    QPushButton *button(const QString &text)
    {
        for (QPushButton *b : window->findChildren<QPushButton *>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    // Restarts the window's 3-second sync tick, so that the next few hundred milliseconds of a
    // test cannot be cut by it.
    void restartSyncTick()
    {
        for (QTimer *timer : window->findChildren<QTimer *>())
            if (timer->interval() == 3000 && !timer->isSingleShot())
                timer->start();
    }
    void click(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            QTest::mouseClick(clickButton(), Qt::LeftButton);
    }
    QList<int> batches() const
    {
        QList<int> out;
        for (const RecordedRequest &r : peer->requestsFor("click"))
            out << r.json().value("count").toInt();
        return out;
    }
    void openWindow()
    {
        window = new MainWindow(auth.get(), client.get());
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        QTRY_COMPARE(peer->requestsFor("stats").size(), 1);
        QTRY_COMPARE(shown("clicksLabel"), QString::number(game->clicks));
    }

private slots:
    void init()
    {
        testenv::clearSettings();
        game = std::make_unique<FakeGame>();
        peer = std::make_unique<ScriptedPeer>();
        peer->setHandler([this](const RecordedRequest &r) { return game->handle(r); });
        QVERIFY(peer->start());
        qputenv("TAPTEMPEST_SERVER_URL", peer->url().toUtf8());
        auth = std::make_unique<AuthManager>();
        auth->handleLoginResponse(QJsonObject{{"username", "alice"}, {"token", "tok"}});
        client = std::make_unique<ApiClient>();
        client->setAuthManager(auth.get());
    }

    void cleanup()
    {
        delete window;
        client.reset();
        auth.reset();
        peer.reset();
    }

    void freshWindow()
    {
        window = new MainWindow(auth.get(), client.get());
        QCOMPARE(window->windowTitle(), QString("TapTempest - 点击游戏"));
        QCOMPARE(shown("usernameLabel"), QString("alice"));
        QCOMPARE(shown("clicksLabel"), QString("0"));
        QCOMPARE(shown("goldLabel"), QString("0"));
        QCOMPARE(shown("bankLabel"), QString("0 元"));
        QCOMPARE(button("浅色主题")->objectName(), QString("funcButton"));
        QCOMPARE(button("退出登录")->objectName(), QString("dangerButton"));
        QCOMPARE(clickButton()->text(), QString("CLICK ME!"));
        window->show();
        QCOMPARE(toast(), QString("已切换到深色主题"));
        // Nothing is requested before the window is shown for 100 ms.
        QVERIFY(peer->requests.isEmpty());
        QTRY_COMPARE(shown("clicksLabel"), QString("1000"));
        QCOMPARE(shown("goldLabel"), QString("7"));
        QCOMPARE(shown("bankLabel"), QString("120 元"));
        // Loaded once: showing again asks for nothing.
        window->hide();
        window->show();
        QTest::qWait(300);
        QCOMPARE(peer->requestsFor("stats").size(), 1);
    }

    void toastsReplaceEachOtherAndExpire()
    {
        openWindow();
        QCOMPARE(toast(), QString("已切换到深色主题"));
        QTest::qWait(2000);
        QTest::mouseClick(button("浅色主题"), Qt::LeftButton);
        QCOMPARE(toast(), QString("已切换到浅色主题"));
        // The second toast lives 3 s from its own start.
        QTest::qWait(1500);
        QCOMPARE(toast(), QString("已切换到浅色主题"));
        QTRY_COMPARE_WITH_TIMEOUT(toast(), QString(), 2500);
    }

    void clicksGoOutInBatchesOfTwenty()
    {
        openWindow();
        restartSyncTick();
        click(19);
        QCOMPARE(shown("clicksLabel"), QString("1019"));
        QTest::qWait(100);
        QVERIFY(batches().isEmpty());
        click();
        QTRY_COMPARE(batches(), QList<int>{20});
        QTRY_COMPARE(window->unconfirmedClickCount(), 0);
        QCOMPARE(shown("clicksLabel"), QString("1020"));
        QCOMPARE(toast(), QString("已同步到服务器"));

        // Fewer than twenty wait for the 3-second tick.
        restartSyncTick();
        click(3);
        QTest::qWait(200);
        QCOMPARE(batches().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(batches(), (QList<int>{20, 3}), 4000);
        QTRY_COMPARE(shown("clicksLabel"), QString("1023"));
        // An idle tick sends nothing.
        QTest::qWait(3200);
        QCOMPARE(batches().size(), 2);
    }

    void oneBatchInFlightAtATime()
    {
        openWindow();
        game->holdClicks = true;
        click(20);
        QTRY_COMPARE(peer->heldCount(), 1);
        click(25);
        QCOMPARE(shown("clicksLabel"), QString("1045"));
        QTest::qWait(200);
        QCOMPARE(batches(), QList<int>{20});

        game->holdClicks = false;
        game->clicks += 20;
        restartSyncTick();
        peer->releaseHeld(
            ScriptedResponse::ok(QJsonObject{{"total_clicks", game->clicks}, {"gold", 7}}));
        // Confirmed 20, 25 still unconfirmed: the count stays, no "synced" toast yet.
        QTRY_COMPARE(window->unconfirmedClickCount(), 25);
        QCOMPARE(shown("clicksLabel"), QString("1045"));
        QVERIFY(toast() != "已同步到服务器");
        click();
        QTRY_COMPARE(batches(), (QList<int>{20, 26}));
        QTRY_COMPARE(toast(), QString("已同步到服务器"));
        QCOMPARE(shown("clicksLabel"), QString("1046"));
        QCOMPARE(game->clicks, 1046);
    }

    void failedBatchIsKeptAndResent()
    {
        openWindow();
        game->failClicks = true;
        restartSyncTick();
        click(20);
        QTRY_COMPARE(toast(), QString("网络离线: 点击将在恢复后同步"));
        QCOMPARE(shown("clicksLabel"), QString("1020"));
        QCOMPARE(window->pendingClickCount(), 20);
        game->failClicks = false;
        click();
        QTRY_COMPARE(batches(), (QList<int>{20, 21}));
        QTRY_COMPARE(toast(), QString("已同步到服务器"));
        QCOMPARE(shown("clicksLabel"), QString("1021"));
        QCOMPARE(game->clicks, 1021);

        // Both attempts name the same sync session and the clicks made so far, so a server that
        // did credit the first one can tell the second holds only one new click.
        const QList<RecordedRequest> sent = peer->requestsFor("click");
        const QString id = sent[0].json().value("sync_id").toString();
        QVERIFY(!id.isEmpty());
        QCOMPARE(sent[1].json().value("sync_id").toString(), id);
        QCOMPARE(sent[0].json().value("sync_total").toInt(), 20);
        QCOMPARE(sent[1].json().value("sync_total").toInt(), 21);
    }

    void clickReplyWithoutFigures()
    {
        openWindow();
        game->overrides["click"].enqueue(ScriptedResponse::ok(QJsonObject()));
        click(20);
        QTRY_COMPARE(window->unconfirmedClickCount(), 0);
        QCOMPARE(shown("clicksLabel"), QString("0"));
        QCOMPARE(shown("goldLabel"), QString("0"));
    }

    void statisticsMerge()
    {
        game->overrides["stats"].enqueue(ScriptedResponse::ok(
            QJsonObject{{"total_clicks", 5},
                        {"gold", 1},
                        {"balance", 99.6},
                        {"bank_balance", 1},
                        {"username", ""},
                        {"effects", QJsonArray{QJsonObject{{"css_class", "effect-rainbow"}},
                                               QJsonObject{{"css_class", "effect-nope"}},
                                               QJsonObject{{"css_class", "effect-genesis"}}}}}));
        window = new MainWindow(auth.get(), client.get());
        window->show();
        QTRY_COMPARE(shown("clicksLabel"), QString("5"));
        QCOMPARE(shown("bankLabel"), QString("100 元"));
        QCOMPARE(shown("usernameLabel"), QString("alice"));
        QSettings settings;
        QVERIFY(settings.value("effects_enabled/5").toBool());
        QVERIFY(settings.value("effects_enabled/39").toBool());
        QVERIFY(!settings.value("effects_enabled/1").toBool());
    }

    void floodOfOwnedEffectsWritesSettingsOnce()
    {
        QJsonArray flood;
        const QStringList classes{"effect-star",  "effect-rainbow", "effect-snow",
                                  "effect-crown", "effect-galaxy",  "effect-genesis"};
        for (int i = 0; i < 10000; ++i)
            flood.append(QJsonObject{{"css_class", classes.at(i % classes.size())}});
        for (int total : {5, 6})
            game->overrides["stats"].enqueue(ScriptedResponse::ok(
                QJsonObject{{"total_clicks", total}, {"gold", 1}, {"effects", flood}}));
        window = new MainWindow(auth.get(), client.get());
        window->show();
        QTRY_COMPARE(shown("clicksLabel"), QString("5"));
        auto *effects = window->findChild<EffectManager *>();
        QVERIFY(effects);
        QCOMPARE(effects->settingsWrites(), 1);
        for (const QString &cssClass : classes)
            QVERIFY(effects->isEffectEnabled(EffectManager::effectIdForClass(cssClass)));
        QVERIFY(QSettings().value("effects_enabled/39").toBool());

        window->loadUserStats();
        QTRY_COMPARE(shown("clicksLabel"), QString("6"));
        QCOMPARE(effects->settingsWrites(), 1);
    }

    void namesFromTheServerAreShownWithoutControls()
    {
        const QString sent = QString::fromUtf8("\u202Eevil\u2066 \u0007x\u2069");
        game->overrides["stats"].enqueue(
            ScriptedResponse::ok(QJsonObject{{"total_clicks", 5}, {"username", sent}}));
        window = new MainWindow(auth.get(), client.get());
        window->show();
        QTRY_COMPARE(shown("clicksLabel"), QString("5"));
        QCOMPARE(shown("usernameLabel"), QString("evil x"));
        // Kept as sent everywhere but on screen.
        QCOMPARE(auth->username(), sent);
    }

    void clickBatchRefusedByARedirectKeepsItsClicks()
    {
        ScriptedPeer elsewhere;
        QVERIFY(elsewhere.listen(QHostAddress("127.0.0.2"), 0));
        openWindow();
        game->overrides["click"].enqueue(ScriptedResponse::garbage(
            "HTTP/1.1 307 Temporary Redirect\r\nLocation: http://127.0.0.2:" +
            QByteArray::number(elsewhere.serverPort()) +
            "/api/index.php?action=click\r\nContent-Length: 0\r\n\r\n"));
        restartSyncTick();
        click(20);
        QTRY_COMPARE(toast(), QString("网络离线: 点击将在恢复后同步"));
        QCOMPARE(window->pendingClickCount(), 20);
        QCOMPARE(shown("clicksLabel"), QString::number(game->clicks + 20));
        window->forceSync();
        QTRY_COMPARE(window->unconfirmedClickCount(), 0);
        QCOMPARE(batches(), (QList<int>{20, 20}));
        QCOMPARE(elsewhere.requests.size(), 0);
    }

    void bankBalanceFallback()
    {
        game->overrides["stats"].enqueue(
            ScriptedResponse::ok(QJsonObject{{"total_clicks", 5}, {"bank_balance", 42}}));
        window = new MainWindow(auth.get(), client.get());
        window->show();
        QTRY_COMPARE(shown("bankLabel"), QString("42 元"));
    }

    void expiredSessionEnds()
    {
        game->overrides["stats"].enqueue(ScriptedResponse::raw(401, "Unauthorized", "{}"));
        window = new MainWindow(auth.get(), client.get());
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        click(3);
        QTRY_COMPARE(toast(), QString("登录已过期，请重新登录"));
        QVERIFY(!auth->isLoggedIn());
        QCOMPARE(auth->savedToken(), QString());
        QVERIFY(window->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!window || !window->isVisible(), 1000);
        // Without a token the pending clicks cannot be delivered; nothing is sent for them.
        QTest::qWait(200);
        QVERIFY(batches().isEmpty());
    }

    void failedStatisticsKeepTheSession()
    {
        game->overrides["stats"].enqueue(ScriptedResponse::raw(500, "Internal Server Error", ""));
        window = new MainWindow(auth.get(), client.get());
        window->show();
        QTRY_COMPARE(toast(),
                     QString("加载用户数据失败: 服务器错误 (HTTP 500) Internal Server Error"));
        QVERIFY(auth->isLoggedIn());
        QCOMPARE(shown("clicksLabel"), QString("0"));
        // Not loaded yet, so the next show tries again.
        window->hide();
        window->show();
        QTRY_COMPARE(peer->requestsFor("stats").size(), 2);
        QTRY_COMPARE(shown("clicksLabel"), QString("1000"));
    }

    void exchangeNeedsClicks_data()
    {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QString>("warning");
        QTest::newRow("none") << 0 << "您没有可兑换的点击数!";
        QTest::newRow("negative") << -5 << "您没有可兑换的点击数!";
        QTest::newRow("below a hundred") << 99 << "兑换最少需要 100 点击";
        QTest::newRow("one") << 1 << "兑换最少需要 100 点击";
    }

    void exchangeNeedsClicks()
    {
        QFETCH(int, clicks);
        QFETCH(QString, warning);
        game->clicks = clicks;
        openWindow();
        ModalScript script;
        auto box = script.then(ModalScript::press(QMessageBox::Ok));
        QTest::mouseClick(button("兑换金币"), Qt::LeftButton);
        QVERIFY(box->seen);
        QCOMPARE(box->className, QString("QMessageBox"));
        QCOMPARE(box->title, QString("兑换金币"));
        QCOMPARE(box->text, warning);
        QTest::qWait(100);
        QVERIFY(peer->requestsFor("exchange").isEmpty());
    }

    void exchange()
    {
        game->clicks = 250;
        openWindow();
        game->overrides["exchange"].enqueue(
            ScriptedResponse::ok(QJsonObject{{"new_gold", 9}, {"remaining_clicks", 50}}));
        ModalScript script;
        game->statsHeld = true;
        auto input = script.then(ModalScript::enterInt(200));
        auto confirm = script.then(ModalScript::press(QMessageBox::Yes));
        QTest::mouseClick(button("兑换金币"), Qt::LeftButton);
        QCOMPARE(input->title, QString("兑换金币"));
        QCOMPARE(input->text,
                 QString("您当前有 250 点击数\n100 点击 = 1 金币\n\n请输入要兑换的点击数:"));
        QCOMPARE(input->intValue, 100);
        QCOMPARE(input->intMinimum, 100);
        QCOMPARE(input->intMaximum, 250);
        QCOMPARE(input->intStep, 100);
        QCOMPARE(confirm->title, QString("确认兑换"));
        QCOMPARE(confirm->text, QString("将用 200 点击数兑换 2 金币\n是否确定?"));

        QTRY_COMPARE(peer->requestsFor("exchange").size(), 1);
        QCOMPARE(peer->requestsFor("exchange")[0].json().value("clicks_to_exchange").toInt(), 200);
        // 7 gold before, 9 after: the toast names the gain.
        QTRY_COMPARE(toast(), QString("兑换成功: +2 金币"));
        QCOMPARE(shown("goldLabel"), QString("9"));
        QCOMPARE(shown("clicksLabel"), QString("50"));
        // Then the statistics are reloaded from the server.
        QTRY_COMPARE(peer->requestsFor("stats").size(), 2);
        game->gold = 10;
        peer->releaseHeld(game->handle(peer->requestsFor("stats").last()));
        QTRY_COMPARE(shown("goldLabel"), QString("10"));
    }

    void exchangeCancelledOrDeclinedSendsNothing()
    {
        game->clicks = 300;
        openWindow();
        ModalScript script;
        auto input = script.then(ModalScript::reject());
        QTest::mouseClick(button("兑换金币"), Qt::LeftButton);
        QVERIFY(input->seen);
        auto again = script.then(ModalScript::enterInt(300));
        auto no = script.then(ModalScript::press(QMessageBox::No));
        QTest::mouseClick(button("兑换金币"), Qt::LeftButton);
        QCOMPARE(no->text, QString("将用 300 点击数兑换 3 金币\n是否确定?"));
        QTest::qWait(100);
        QVERIFY(peer->requestsFor("exchange").isEmpty());
        QCOMPARE(script.remaining(), 0);
    }

    void exchangeRefused()
    {
        game->clicks = 300;
        openWindow();
        game->overrides["exchange"].enqueue(ScriptedResponse::fail("<b>点击数不足</b>"));
        ModalScript script;
        script.then(ModalScript::enterInt(100));
        script.then(ModalScript::press(QMessageBox::Yes));
        auto failure = script.then(ModalScript::press(QMessageBox::Ok));
        QTest::mouseClick(button("兑换金币"), Qt::LeftButton);
        QTRY_VERIFY(failure->seen);
        QCOMPARE(failure->title, QString("兑换失败"));
        QCOMPARE(failure->text, QString("<b>点击数不足</b>"));
        QCOMPARE(failure->textFormat, Qt::PlainText);
        QCOMPARE(shown("goldLabel"), QString("7"));
    }

    void depositDialogStartsAtTenOrLess_data()
    {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("initial");
        QTest::newRow("few") << 7 << 7;
        QTest::newRow("many") << 500 << 10;
    }

    void depositDialogStartsAtTenOrLess()
    {
        QFETCH(int, clicks);
        QFETCH(int, initial);
        game->clicks = clicks;
        openWindow();
        ModalScript script;
        auto input = script.then(ModalScript::reject());
        QTest::mouseClick(button("存入银行"), Qt::LeftButton);
        QCOMPARE(input->title, QString("存入银行"));
        QCOMPARE(input->intValue, initial);
        QCOMPARE(input->intMinimum, 1);
        QCOMPARE(input->intMaximum, clicks);
        QCOMPARE(input->intStep, 1);
        QCOMPARE(
            input->text,
            QString("您当前有 %1 点击数\n1 点击 = 10 元\n\n请输入要存入的点击数:").arg(clicks));
        QTest::qWait(100);
        QVERIFY(peer->requestsFor("deposit").isEmpty());
    }

    void deposit()
    {
        game->clicks = 40;
        openWindow();
        game->overrides["deposit"].enqueue(ScriptedResponse::ok(QJsonObject{
            {"new_bank_balance", 1370.4}, {"remaining_clicks", 15}, {"yuan_converted", 251}}));
        ModalScript script;
        game->statsHeld = true;
        script.then(ModalScript::enterInt(25));
        auto confirm = script.then(ModalScript::press(QMessageBox::Yes));
        QTest::mouseClick(button("存入银行"), Qt::LeftButton);
        QCOMPARE(confirm->title, QString("确认存入"));
        QCOMPARE(confirm->text, QString("将 25 点击数存入 CoinVale\n获得 250 元存款\n是否确定?"));
        QTRY_COMPARE(toast(), QString("存入成功: +251 元"));
        QCOMPARE(peer->requestsFor("deposit")[0].json().value("clicks_amount").toInt(), 25);
        QCOMPARE(shown("bankLabel"), QString("1370 元"));
        QCOMPARE(shown("clicksLabel"), QString("15"));
        QCOMPARE(shown("goldLabel"), QString("7"));
        QTRY_COMPARE(peer->requestsFor("stats").size(), 2);
    }

    void depositWithoutClicksOrRefused()
    {
        game->clicks = 0;
        openWindow();
        ModalScript script;
        auto none = script.then(ModalScript::press(QMessageBox::Ok));
        QTest::mouseClick(button("存入银行"), Qt::LeftButton);
        QCOMPARE(none->title, QString("存入银行"));
        QCOMPARE(none->text, QString("您没有点击数可存入!\n请先点击获取点击数。"));

        game->clicks = 10;
        window->loadUserStats();
        QTRY_COMPARE(shown("clicksLabel"), QString("10"));
        game->overrides["deposit"].enqueue(ScriptedResponse::fail("存款失败"));
        script.then(ModalScript::enterInt(3));
        script.then(ModalScript::press(QMessageBox::Yes));
        auto failure = script.then(ModalScript::press(QMessageBox::Ok));
        QTest::mouseClick(button("存入银行"), Qt::LeftButton);
        QTRY_VERIFY(failure->seen);
        QCOMPARE(failure->title, QString("存入失败"));
        QCOMPARE(failure->text, QString("存款失败"));
    }

    void themeToggle()
    {
        openWindow();
        QVERIFY(qApp->styleSheet().startsWith("/* TapTempest 样式表 - 深色主题 (默认) */"));
        QTest::mouseClick(button("浅色主题"), Qt::LeftButton);
        QCOMPARE(QSettings().value("theme/dark").toBool(), false);
        QVERIFY(qApp->styleSheet().startsWith("/* TapTempest 浅色主题样式表 */"));
        QVERIFY(button("深色主题"));
        QCOMPARE(toast(), QString("已切换到浅色主题"));
        QTest::mouseClick(button("深色主题"), Qt::LeftButton);
        QCOMPARE(QSettings().value("theme/dark").toBool(), true);
        QCOMPARE(toast(), QString("已切换到深色主题"));
    }

    void settingsApplyReachesTheWindow()
    {
        openWindow();
        ModalScript script;
        script.then([](QWidget *modal) {
            auto *dialog = qobject_cast<SettingsDialog *>(modal);
            QVERIFY(dialog);
            dialog->findChild<QSpinBox *>("widthSpin")->setValue(320);
            dialog->findChild<QSpinBox *>("borderWidthSpin")->setValue(5);
            for (QCheckBox *box : dialog->findChildren<QCheckBox *>())
                if (box->text() == "深色主题")
                    box->setChecked(false);
            for (QPushButton *b : dialog->findChildren<QPushButton *>())
                if (b->text() == "应用")
                    b->click();
        });
        QTest::mouseClick(button("设置"), Qt::LeftButton);
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(toast(), QString("设置已更新"));
        QCOMPARE(clickButton()->minimumWidth(), 320);
        QCOMPARE(clickButton()->borderWidth(), 5);
        QVERIFY(qApp->styleSheet().startsWith("/* TapTempest 浅色主题样式表 */"));
        QVERIFY(button("深色主题"));
        // Closing settings does not reload statistics; closing the shop does.
        QCOMPARE(peer->requestsFor("stats").size(), 1);
        game->overrides["effects/list"].enqueue(ScriptedResponse::ok(QJsonObject()));
        script.then(ModalScript::reject());
        QTest::mouseClick(button("特效商店"), Qt::LeftButton);
        QTRY_COMPARE(peer->requestsFor("stats").size(), 2);
        script.then(ModalScript::reject());
        QTest::mouseClick(button("排行榜"), Qt::LeftButton);
        QTest::qWait(200);
        QCOMPARE(peer->requestsFor("stats").size(), 2);
    }

    void pendingClicksLeaveOnClose()
    {
        openWindow();
        game->holdClicks = true;
        click(20);
        QTRY_COMPARE(peer->heldCount(), 1);
        click(4);
        window->close();
        // The four go out at once although the first batch is still in flight.
        QTRY_COMPARE(batches(), (QList<int>{20, 4}));
        QCOMPARE(peer->requestsFor("click")[1].json().value("sync_total").toInt(), 24);
        QCOMPARE(peer->requestsFor("click")[1].json().value("token").toString(), QString("tok"));
        QCOMPARE(client->requestsInFlight(), 2);
        peer->releaseHeld(ScriptedResponse::ok());
        QTRY_COMPARE(client->requestsInFlight(), 0);
    }

    void logout()
    {
        openWindow();
        ModalScript script;
        auto no = script.then(ModalScript::press(QMessageBox::No));
        restartSyncTick();
        click(3);
        QTest::mouseClick(button("退出登录"), Qt::LeftButton);
        QCOMPARE(no->title, QString("退出登录"));
        QCOMPARE(no->text, QString("确定要退出登录吗?"));
        QVERIFY(window->isVisible());
        QVERIFY(auth->isLoggedIn());
        QTest::qWait(100);
        QVERIFY(batches().isEmpty());

        game->holdClicks = true;
        click(17); // 20 in flight
        QTRY_COMPARE(peer->heldCount(), 1);
        click(2);
        script.then(ModalScript::press(QMessageBox::Yes));
        QTest::mouseClick(button("退出登录"), Qt::LeftButton);
        QTRY_COMPARE(batches(), (QList<int>{20, 2}));
        // The last batch still carried the session token.
        QCOMPARE(peer->requestsFor("click")[1].json().value("token").toString(), QString("tok"));
        QVERIFY(!auth->isLoggedIn());
        QCOMPARE(auth->savedToken(), QString());
        QTRY_VERIFY(!window);
        peer->releaseHeld(ScriptedResponse::ok());
    }
};

TAPTEMPEST_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
