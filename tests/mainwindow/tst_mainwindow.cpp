#include "dialogs/settingsdialog.h"
#include "feedback/clickbutton.h"
#include "feedback/clicksound.h"
#include "feedback/effectlayer.h"
#include "feedback/effectmanager.h"
#include "mainwindow/mainwindow.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/clickoutbox.h"
#include "support/modalscript.h"
#include "support/rendering.h"
#include "support/scriptedclient.h"
#include "support/testenv.h"
#include "support/uicheck.h"

#include <QAccessible>
#include <QAudioDevice>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QLabel>
#include <QLayout>
#include <QMediaDevices>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <functional>
#include <memory>

namespace {

// A small game server behind the scripted peer: it adds up clicks and answers statistics; any
// action can be overridden with queued responses.
struct FakeGame
{
    qint64 clicks = 1000;
    int gold = 7;
    double balance = 120;
    bool failClicks = false;
    bool holdClicks = false;
    bool statsHeld = false; // the next statistics request waits for releaseHeld()
    // Credits a batch with a sync session only up to a total it has not seen, as a server that
    // knows sync ids does.
    bool honourSyncIds = false;
    QMap<QString, qint64> syncSeen;
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
            const QJsonObject body = request.json();
            const QString syncId = body.value("sync_id").toString();
            if (honourSyncIds && !syncId.isEmpty()) {
                const qint64 total = body.value("sync_total").toInteger();
                clicks += int(qMax<qint64>(0, total - syncSeen.value(syncId)));
                syncSeen[syncId] = qMax(total, syncSeen.value(syncId));
            } else {
                clicks += body.value("count").toInt();
            }
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

// Accessibility events as a screen reader's bridge would receive them.
struct AccessibleUpdate
{
    QObject *object;
    QAccessible::Event type;
    QString value;
};
QList<AccessibleUpdate> *accessibleUpdates = nullptr;

void recordAccessibleUpdate(QAccessibleEvent *event)
{
    if (!accessibleUpdates)
        return;
    QString value;
    if (event->type() == QAccessible::ValueChanged)
        value = static_cast<QAccessibleValueChangeEvent *>(event)->value().toString();
    accessibleUpdates->append({event->object(), event->type(), value});
}

// The sync and toast interval of the windows under test.
constexpr int kTick = 500;

} // namespace

// The scripted peer, session store and client come from ScriptedClient.
class TestMainWindow : public QObject, private ScriptedClient
{
    Q_OBJECT

private:
    std::unique_ptr<ApiClient> &client = api;
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
    // Short sync and toast intervals, so that no test sleeps for them.
    static MainWindow::Timing fast()
    {
        MainWindow::Timing timing;
        timing.session.syncMs = kTick;
        timing.toastMs = kTick;
        return timing;
    }
    QTimer *syncTimer() { return window->findChild<QTimer *>("syncTimer"); }
    // Restarts the window's sync tick, so that the next few hundred milliseconds of a test
    // cannot be cut by it.
    void restartSyncTick()
    {
        QTimer *timer = syncTimer();
        QVERIFY(timer);
        QCOMPARE(timer->interval(), kTick);
        QVERIFY(!timer->isSingleShot());
        timer->start();
    }
    // Waits for the next tick of the sync timer.
    bool nextTick()
    {
        QSignalSpy ticks(syncTimer(), &QTimer::timeout);
        return ticks.wait(kTick * 4);
    }
    // Milliseconds from now until the peer receives the next request for `action`; the clock
    // is read inside the event loop, so waiting for the result does not blur it.
    std::shared_ptr<qint64> timeToNext(const QString &action)
    {
        auto elapsed = std::make_shared<qint64>(-1);
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(peer.get(), &ScriptedPeer::requestReceived, this,
                              [elapsed, clock, connection, action](const RecordedRequest &r) {
                                  if (r.action() != action)
                                      return;
                                  *elapsed = clock->elapsed();
                                  disconnect(*connection);
                              });
        return elapsed;
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
    QString outboxPath(const QString &user = "alice") const
    {
        return ClickOutbox::filePath(peer->url(), ClickOutbox::accountKey(QString(), user));
    }
    void logInAs(const QString &user, const QString &token)
    {
        auth->logout();
        auth->handleLoginResponse(QJsonObject{{"username", user}, {"token", token}});
    }
    // Clicks `times` while every click batch fails, then closes the window.
    void clickOfflineAndClose(int times)
    {
        openWindow();
        game->failClicks = true;
        restartSyncTick();
        click(times);
        // The tick's batch fails; the clicks are now on disk.
        QTRY_COMPARE(toast(), QString("网络离线: 点击将在恢复后同步"));
        QVERIFY(QFile::exists(outboxPath()));
        window->close();
        QTRY_VERIFY(!window);
        QTRY_COMPARE(client->requestsInFlight(), 0);
        game->failClicks = false;
    }
    // Opens the settings from the window, lets `change` edit the dialog, then presses 应用.
    void applySettings(const std::function<void(SettingsDialog *)> &change)
    {
        ModalScript script;
        script.then([change](QWidget *modal) {
            auto *dialog = qobject_cast<SettingsDialog *>(modal);
            QVERIFY(dialog);
            change(dialog);
            for (QPushButton *b : dialog->findChildren<QPushButton *>())
                if (b->text() == "应用")
                    b->click();
        });
        QTest::mouseClick(button("设置"), Qt::LeftButton);
        QCOMPARE(script.remaining(), 0);
    }
    // Checks a modal box as a player reading English meets it, then answers it with `answer`.
    static ModalScript::Action checkedInEnglish(QStringList *faults, ModalScript::Action answer)
    {
        return [faults, answer](QWidget *modal) {
            const QString box = QStringLiteral("%1 \"%2\": ")
                                    .arg(QString::fromLatin1(modal->metaObject()->className()),
                                         modal->windowTitle());
            const QStringList found = uicheck::chineseTexts(modal) + uicheck::cutTexts(modal) +
                                      uicheck::shortenedTexts(modal) +
                                      uicheck::unnamedControls(modal);
            for (const QString &fault : found)
                *faults << box + fault;
            answer(modal);
        };
    }
    void openWindow()
    {
        const int statsBefore = peer->requestsFor("stats").size();
        window = new MainWindow(auth.get(), client.get(), fast());
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        QTRY_COMPARE(peer->requestsFor("stats").size(), statsBefore + 1);
        // A negative count is refused and leaves the 0 shown.
        QTRY_COMPARE(shown("clicksLabel"), QString::number(qMax<qint64>(0, game->clicks)));
    }

private slots:
    void init()
    {
        game = std::make_unique<FakeGame>();
        QVERIFY(ScriptedClient::start());
        peer->setHandler([this](const RecordedRequest &r) { return game->handle(r); });
        auth->handleLoginResponse(QJsonObject{{"username", "alice"}, {"token", "tok"}});
    }

    void cleanup()
    {
        delete window;
        ScriptedClient::stop();
    }

    void freshWindow()
    {
        window = new MainWindow(auth.get(), client.get(), fast());
        QCOMPARE(window->windowTitle(), QString("TapTempest - 点击游戏"));
        QCOMPARE(shown("usernameLabel"), QString("alice"));
        QCOMPARE(shown("clicksLabel"), QString("0"));
        QCOMPARE(shown("goldLabel"), QString("0"));
        QCOMPARE(shown("bankLabel"), QString("0 元"));
        QCOMPARE(button("浅色主题")->objectName(), QString("funcButton"));
        QCOMPARE(button("退出登录")->objectName(), QString("dangerButton"));
        QCOMPARE(clickButton()->text(), QString("CLICK ME!"));
        // The clicks caption explains itself: what is left to spend, unlike the ranking's
        // 总点击数.
        QStringList captionTips;
        for (QLabel *l : window->findChildren<QLabel *>())
            if (l->text() == "总点击:")
                captionTips << l->toolTip();
        QCOMPARE(captionTips, QStringList{"可以兑换金币或存入银行的点击数；已花掉的点击不再计入"});
        const auto firstStats = timeToNext("stats");
        window->show();
        // The theme is only announced when the player switches it.
        QCOMPARE(toast(), QString());
        // Nothing is requested before the window is shown for 100 ms.
        QVERIFY(peer->requests.isEmpty());
        QTRY_COMPARE(shown("clicksLabel"), QString("1000"));
        QVERIFY2(*firstStats >= 100, qPrintable(QString::number(*firstStats)));
        QCOMPARE(peer->requests.size(), 1);
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
        QCOMPARE(toast(), QString());
        QTest::mouseClick(button("浅色主题"), Qt::LeftButton);
        QCOMPARE(toast(), QString("已切换到浅色主题"));
        QTRY_VERIFY(label("toastLabel")->isVisible());
        QTest::qWait(kTick / 2);
        QElapsedTimer second;
        second.start();
        QTest::mouseClick(button("深色主题"), Qt::LeftButton);
        QCOMPARE(toast(), QString("已切换到深色主题"));
        // The second toast lives its whole period from its own start.
        QTRY_COMPARE_WITH_TIMEOUT(toast(), QString(), kTick * 4);
        QVERIFY2(second.elapsed() >= kTick, qPrintable(QString::number(second.elapsed())));
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

        // Fewer than twenty wait for the tick.
        restartSyncTick();
        click(3);
        QTest::qWait(100);
        QCOMPARE(batches().size(), 1);
        QVERIFY(nextTick());
        QTRY_COMPARE(batches(), (QList<int>{20, 3}));
        QTRY_COMPARE(shown("clicksLabel"), QString("1023"));
        // An idle tick sends nothing.
        QVERIFY(nextTick());
        QVERIFY(nextTick());
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
        window = new MainWindow(auth.get(), client.get(), fast());
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
        window = new MainWindow(auth.get(), client.get(), fast());
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
        window = new MainWindow(auth.get(), client.get(), fast());
        window->show();
        QTRY_COMPARE(shown("clicksLabel"), QString("5"));
        QCOMPARE(shown("usernameLabel"), QString("evil x"));
        // Kept as sent everywhere but on screen.
        QCOMPARE(auth->username(), sent);
    }

    void longNamesAreElided()
    {
        const QString name(10000, QLatin1Char('w'));
        game->overrides["stats"].enqueue(
            ScriptedResponse::ok(QJsonObject{{"total_clicks", 5}, {"username", name}}));
        window = new MainWindow(auth.get(), client.get(), fast());
        window->show();
        QTRY_COMPARE(shown("clicksLabel"), QString("5"));
        QLabel *user = label("usernameLabel");
        QVERIFY2(user->text().size() < 100, qPrintable(QString::number(user->text().size())));
        QVERIFY(user->text().endsWith(QChar(0x2026)));
        QCOMPARE(user->toolTip(), name);
        // The info box keeps the window at its usual size.
        QVERIFY(window->minimumSizeHint().width() <= 800);
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

    void expiredSessionEnds()
    {
        game->overrides["stats"].enqueue(ScriptedResponse::raw(401, "Unauthorized", "{}"));
        window = new MainWindow(auth.get(), client.get(), fast());
        window->setAttribute(Qt::WA_DeleteOnClose);
        const auto expiredAt = timeToNext("stats");
        QElapsedTimer clock;
        clock.start();
        qint64 closedAt = -1;
        QObject scope; // ends the connection with this function
        connect(window, &QObject::destroyed, &scope,
                [&clock, &closedAt] { closedAt = clock.elapsed(); });
        window->show();
        click(3);
        QTRY_COMPARE(toast(), QString("登录已过期，请重新登录"));
        QVERIFY(!auth->isLoggedIn());
        QCOMPARE(auth->savedToken(), QString());
        QVERIFY(window->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!window || !window->isVisible(), 1000);
        QTRY_VERIFY(closedAt >= 0);
        // The player reads the toast for 200 ms, counted from the reply; the slack is for a
        // loaded machine, far below a second.
        const qint64 shownFor = closedAt - *expiredAt;
        QVERIFY2(shownFor >= 200 && shownFor < 500, qPrintable(QString::number(shownFor)));
        // Without a token the pending clicks cannot be delivered; nothing is sent for them.
        QTest::qWait(200);
        QVERIFY(batches().isEmpty());
        // They wait in the outbox for the next login of the account.
        ClickOutbox owed(peer->url(), ClickOutbox::accountKey(QString(), "alice"));
        QCOMPARE(owed.inherited().size(), 1);
        QCOMPARE(owed.inherited()[0].owed(), 3);
    }

    void failedStatisticsKeepTheSession()
    {
        game->overrides["stats"].enqueue(ScriptedResponse::raw(500, "Internal Server Error", ""));
        window = new MainWindow(auth.get(), client.get(), fast());
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

    void exchangeToastNamesTheGainWhateverArrivedFirst_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QString>("expected");
        const QJsonObject plain{{"new_gold", 10}, {"remaining_clicks", 50}};
        QJsonObject reported = plain;
        reported.insert("gold_gained", 3);
        QJsonObject reportedOdd = plain;
        reportedOdd.insert("gold_gained", 4);
        QTest::newRow("amount sent") << plain << "兑换成功: +3 金币";
        QTest::newRow("server's figure") << reported << "兑换成功: +3 金币";
        QTest::newRow("server's figure wins") << reportedOdd << "兑换成功: +4 金币";
    }

    void exchangeToastNamesTheGainWhateverArrivedFirst()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(QString, expected);
        game->clicks = 350;
        openWindow();
        game->overrides["exchange"].enqueue(ScriptedResponse::noAnswer());
        ModalScript script;
        script.then(ModalScript::enterInt(300));
        script.then(ModalScript::press(QMessageBox::Yes));
        QTest::mouseClick(button("兑换金币"), Qt::LeftButton);
        QTRY_COMPARE(peer->heldCount(), 1);
        // A statistics reply brings the new gold before the exchange reply does.
        game->clicks = 50;
        game->gold = 10;
        window->loadUserStats();
        QTRY_COMPARE(shown("goldLabel"), QString("10"));
        peer->releaseHeld(ScriptedResponse::ok(reply));
        QTRY_COMPARE(toast(), expected);
        QCOMPARE(shown("goldLabel"), QString("10"));
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

    // Long-time players pass 2^31 clicks: every figure and dialog shows the whole number, and one
    // operation takes at most what the input dialog can hold.
    void countsBeyond32Bits()
    {
        game->clicks = 9000000000;
        game->gold = 0;
        openWindow();
        QCOMPARE(shown("clicksLabel"), QString("9000000000"));

        ModalScript script;
        auto exchange = script.then(ModalScript::reject());
        QTest::mouseClick(button("兑换金币"), Qt::LeftButton);
        QVERIFY(exchange->seen);
        QCOMPARE(exchange->className, QString("QInputDialog"));
        QCOMPARE(exchange->text,
                 QString("您当前有 9000000000 点击数\n100 点击 = 1 金币\n\n请输入要兑换的点击数:"));
        QCOMPARE(exchange->intValue, 100);
        QCOMPARE(exchange->intMaximum, 2147483647);

        game->overrides["deposit"].enqueue(ScriptedResponse::ok(
            QJsonObject{{"new_bank_balance", 21474836470.0},
                        {"remaining_clicks", Q_INT64_C(9000000000) - 2147483647},
                        {"yuan_converted", Q_INT64_C(21474836470)}}));
        game->statsHeld = true;
        auto input = script.then(ModalScript::enterInt(2147483647));
        auto confirm = script.then(ModalScript::press(QMessageBox::Yes));
        QTest::mouseClick(button("存入银行"), Qt::LeftButton);
        QCOMPARE(input->intValue, 10);
        QCOMPARE(input->intMaximum, 2147483647);
        QCOMPARE(confirm->text,
                 QString("将 2147483647 点击数存入 CoinVale\n获得 21474836470 元存款\n是否确定?"));
        QTRY_COMPARE(toast(), QString("存入成功: +21474836470 元"));
        QCOMPARE(peer->requestsFor("deposit")[0].json().value("clicks_amount").toInteger(),
                 2147483647);
        QCOMPARE(shown("clicksLabel"), QString("6852516353"));
        QCOMPARE(shown("bankLabel"), QString("21474836470 元"));
    }

    void clickAndStatisticsRepliesBeyond32Bits()
    {
        game->clicks = 4294967296; // 2^32: wraps to 0 as a 32-bit int
        game->gold = 0;
        openWindow();
        restartSyncTick();
        click(20);
        QTRY_COMPARE(shown("clicksLabel"), QString("4294967316"));
        QTRY_COMPARE(batches(), QList<int>{20});
        QTRY_COMPARE(toast(), QString("已同步到服务器"));
        QCOMPARE(shown("clicksLabel"), QString("4294967316"));

        // A count that is no integer is a bad reply: the figures shown stay.
        game->overrides["stats"].enqueue(ScriptedResponse::ok(
            QJsonObject{{"total_clicks", "4294967316"}, {"gold", 12.5}, {"username", "alice"}}));
        window->loadUserStats();
        QTRY_COMPARE(toast(), QString("加载用户数据失败: 服务器返回的数据无效"));
        QCOMPARE(shown("clicksLabel"), QString("4294967316"));
        QCOMPARE(shown("goldLabel"), QString("0"));
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
        // The status bar follows the theme's sheet.
        const QImage bar = rendering::render(window->statusBar());
        QVERIFY(rendering::pixelsNear(bar, bar.rect(), QColor("#f6f8fa"), 4) > bar.width() * 4);
        QTest::mouseClick(button("深色主题"), Qt::LeftButton);
        QCOMPARE(QSettings().value("theme/dark").toBool(), true);
        QCOMPARE(toast(), QString("已切换到深色主题"));
    }

    // At the smallest size the window allows, every function button still shows its whole
    // label, in both themes.
    void functionLabelsWholeAtTheMinimumSize()
    {
        openWindow();
        for (int round = 0; round < 2; ++round) {
            window->resize(window->minimumSize());
            QTRY_COMPARE(window->size(), window->minimumSize());
            QVERIFY(window->minimumWidth() >= 640);
            QCOMPARE(window->minimumHeight(), 480);
            window->centralWidget()->layout()->activate();
            int buttons = 0;
            for (QPushButton *b : window->findChildren<QPushButton *>()) {
                if (b->objectName() != "funcButton" && b->objectName() != "dangerButton")
                    continue;
                ++buttons;
                QVERIFY2(b->width() >= b->sizeHint().width(),
                         qPrintable(QStringLiteral("%1: %2 < %3")
                                        .arg(b->text())
                                        .arg(b->width())
                                        .arg(b->sizeHint().width())));
            }
            QCOMPARE(buttons, 7);
            QTest::mouseClick(button(round == 0 ? "浅色主题" : "深色主题"), Qt::LeftButton);
        }
    }

    // In English at the smallest size in both themes, and as a screen reader meets it: every
    // control named, the figures named with their values.
    void englishAndAccessible()
    {
        uicheck::EnglishInterface language;
        QVERIFY(language.isInstalled());
        openWindow();
        QCOMPARE(window->windowTitle(), QString("TapTempest - Clicker game"));
        for (int round = 0; round < 2; ++round) {
            window->resize(window->minimumSize());
            QTRY_COMPARE(window->size(), window->minimumSize());
            window->centralWidget()->layout()->activate();
            UI_CHECK_EMPTY(uicheck::chineseTexts(window, {"alice"}));
            UI_CHECK_EMPTY(uicheck::cutTexts(window));
            UI_CHECK_EMPTY(uicheck::shortenedTexts(window));
            UI_CHECK_EMPTY(uicheck::unnamedControls(window));
            QTest::mouseClick(button(round == 0 ? "Light theme" : "Dark theme"), Qt::LeftButton);
        }
        QCOMPARE(label("clicksLabel")->accessibleName(), QString("Clicks: %1").arg(game->clicks));
        QCOMPARE(label("bankLabel")->accessibleName(), QString("Bank balance: 120 yuan"));
        QVERIFY(!clickButton()->accessibleDescription().isEmpty());

        // What a screen reader reads for the figure follows each click (the events that tell it
        // so: figuresAnnounceNewValuesOnly).
        click(3);
        const QString expected = QString("Clicks: %1").arg(game->clicks + 3);
        QAccessibleInterface *figure = QAccessible::queryAccessibleInterface(label("clicksLabel"));
        QVERIFY(figure);
        QCOMPARE(figure->text(QAccessible::Name), expected);
    }

    // The boxes the window opens, in English at the size they are shown: the player reads
    // "1 click" and "2 clicks", every control is named, nothing is cut or left in Chinese.
    void englishBoxesOfExchangeAndDeposit()
    {
        uicheck::EnglishInterface language;
        QVERIFY(language.isInstalled());
        game->clicks = 1;
        openWindow();
        QStringList faults;
        ModalScript script;
        auto input = script.then(checkedInEnglish(&faults, ModalScript::enterInt(1)));
        auto confirm = script.then(checkedInEnglish(&faults, ModalScript::press(QMessageBox::No)));
        QTest::mouseClick(button("Deposit"), Qt::LeftButton);
        QCOMPARE(input->text, QString("You have 1 click\n1 click = 10 yuan\n\nClicks to deposit:"));
        QCOMPARE(confirm->title, QString("Confirm deposit"));
        QCOMPARE(confirm->text, QString("Deposit 1 click in CoinVale\nfor 10 yuan?"));

        game->clicks = 2;
        window->loadUserStats();
        QTRY_COMPARE(shown("clicksLabel"), QString("2"));
        input = script.then(checkedInEnglish(&faults, ModalScript::enterInt(2)));
        confirm = script.then(checkedInEnglish(&faults, ModalScript::press(QMessageBox::No)));
        QTest::mouseClick(button("Deposit"), Qt::LeftButton);
        QCOMPARE(input->text,
                 QString("You have 2 clicks\n1 click = 10 yuan\n\nClicks to deposit:"));
        QCOMPARE(confirm->text, QString("Deposit 2 clicks in CoinVale\nfor 20 yuan?"));
        // Too few to exchange: a warning.
        auto warning = script.then(checkedInEnglish(&faults, ModalScript::press(QMessageBox::Ok)));
        QTest::mouseClick(button("Exchange gold"), Qt::LeftButton);
        QCOMPARE(warning->text, QString("An exchange needs at least 100 clicks"));

        game->clicks = 250;
        window->loadUserStats();
        QTRY_COMPARE(shown("clicksLabel"), QString("250"));
        game->overrides["exchange"].enqueue(ScriptedResponse::fail("not enough clicks"));
        input = script.then(checkedInEnglish(&faults, ModalScript::enterInt(200)));
        confirm = script.then(checkedInEnglish(&faults, ModalScript::press(QMessageBox::Yes)));
        auto failure = script.then(checkedInEnglish(&faults, ModalScript::press(QMessageBox::Ok)));
        QTest::mouseClick(button("Exchange gold"), Qt::LeftButton);
        QCOMPARE(input->text,
                 QString("You have 250 clicks\n100 clicks = 1 gold\n\nClicks to exchange:"));
        QCOMPARE(confirm->text, QString("Exchange 200 clicks for 2 gold?"));
        QTRY_VERIFY(failure->seen);
        QCOMPARE(failure->title, QString("Exchange failed"));
        QCOMPARE(script.remaining(), 0);
        UI_CHECK_EMPTY(faults);
    }

    // A screen reader following a figure hears its new value once, and nothing while it stays.
    void figuresAnnounceNewValuesOnly()
    {
        openWindow();
        QList<AccessibleUpdate> updates;
        accessibleUpdates = &updates;
        const QAccessible::UpdateHandler previous =
            QAccessible::installUpdateHandler(recordAccessibleUpdate);
        // Without an active platform accessibility Qt drops every event before the handler.
        QPlatformAccessibility *platform =
            QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(platform);
        const bool wasActive = platform->isActive();
        platform->setActive(true);
        const auto restore = qScopeGuard([&] {
            QAccessible::installUpdateHandler(previous);
            platform->setActive(wasActive);
            accessibleUpdates = nullptr;
        });
        const auto values = [&](const char *name) {
            QStringList found;
            for (const AccessibleUpdate &u : std::as_const(updates))
                if (u.object == label(name) && u.type == QAccessible::ValueChanged)
                    found << u.value;
            return found;
        };
        const auto names = [&](const char *name) {
            int count = 0;
            for (const AccessibleUpdate &u : std::as_const(updates))
                count += u.object == label(name) && u.type == QAccessible::NameChanged;
            return count;
        };
        QSignalSpy figures(window->session(), &GameSession::figuresChanged);

        restartSyncTick();
        click();
        QCOMPARE(values("clicksLabel"), QStringList{"1001"});
        QVERIFY(names("clicksLabel") > 0);
        QCOMPARE(values("goldLabel"), QStringList());
        QCOMPARE(values("bankLabel"), QStringList());
        // The server confirms the click: the figure shown stays 1001 and is not announced again.
        QTRY_COMPARE(peer->requestsFor("click").size(), 1);
        QTRY_VERIFY(figures.count() > 0);
        QCOMPARE(values("clicksLabel"), QStringList{"1001"});

        updates.clear();
        figures.clear();
        game->gold = 8;
        game->balance = 130;
        window->loadUserStats();
        QTRY_VERIFY(figures.count() > 0);
        QCOMPARE(values("goldLabel"), QStringList{"8"});
        QCOMPARE(values("bankLabel"), QStringList{"130 元"});
        QCOMPARE(values("clicksLabel"), QStringList());
        QVERIFY(names("goldLabel") > 0);

        // The same figures again: silence.
        updates.clear();
        figures.clear();
        window->loadUserStats();
        QTRY_VERIFY(figures.count() > 0);
        for (const char *name : {"clicksLabel", "goldLabel", "bankLabel"}) {
            QCOMPARE(values(name), QStringList());
            QCOMPARE(names(name), 0);
        }
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

    void ctrlQEndsTheGameLikeTheCloseButton()
    {
        openWindow();
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        restartSyncTick();
        click(3);
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!window->isVisible());
        // Closed the same way: the clicks made leave with it.
        QTRY_COMPARE(batches(), QList<int>{3});
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

    void outboxCreditsClicksOnceAfterARestart()
    {
        game->honourSyncIds = true;
        clickOfflineAndClose(7);
        QCOMPARE(game->clicks, 1000);
        const QString sessionId = peer->requestsFor("click")[0].json().value("sync_id").toString();

        // A new window of the same account sends them before anything of its own and counts them
        // as unconfirmed until then.
        game->holdClicks = true;
        window = new MainWindow(auth.get(), client.get(), fast());
        window->setAttribute(Qt::WA_DeleteOnClose);
        QCOMPARE(window->unconfirmedClickCount(), 7);
        window->show();
        QTRY_COMPARE(peer->heldCount(), 1);
        const RecordedRequest resent = peer->requestsFor("click").last();
        QCOMPARE(resent.json().value("sync_id").toString(), sessionId);
        QCOMPARE(resent.json().value("sync_total").toInt(), 7);
        QCOMPARE(resent.json().value("count").toInt(), 7);
        QCOMPARE(resent.json().value("token").toString(), QString("tok"));
        QTRY_COMPARE(shown("clicksLabel"), QString("1007"));

        game->holdClicks = false;
        peer->releaseHeld(game->handle(resent));
        QTRY_COMPARE(window->unconfirmedClickCount(), 0);
        QCOMPARE(game->clicks, 1007);
        QCOMPARE(shown("clicksLabel"), QString("1007"));
        QVERIFY(!QFile::exists(outboxPath()));

        // Confirmed means gone: neither this window nor the next sends them again.
        const int clickRequests = peer->requestsFor("click").size();
        window->close();
        QTRY_VERIFY(!window);
        openWindow();
        QVERIFY(nextTick());
        QVERIFY(nextTick());
        QCOMPARE(peer->requestsFor("click").size(), clickRequests);
        QCOMPARE(game->clicks, 1007);
    }

    void outboxWaitsForItsOwnAccount()
    {
        game->honourSyncIds = true;
        clickOfflineAndClose(7);
        const int aliceRequests = peer->requestsFor("click").size();

        logInAs("bob", "tok-bob");
        openWindow();
        restartSyncTick();
        click(2);
        QTRY_COMPARE(window->unconfirmedClickCount(), 0);
        // Only bob's own two clicks went out, with bob's token.
        const QList<RecordedRequest> bobs = peer->requestsFor("click").mid(aliceRequests);
        QCOMPARE(bobs.size(), 1);
        QCOMPARE(bobs[0].json().value("count").toInt(), 2);
        QCOMPARE(bobs[0].json().value("token").toString(), QString("tok-bob"));
        QVERIFY(QFile::exists(outboxPath("alice")));
        window->close();
        QTRY_VERIFY(!window);

        logInAs("alice", "tok");
        const int before = game->clicks;
        window = new MainWindow(auth.get(), client.get(), fast());
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        QTRY_COMPARE(game->clicks, before + 7);
        QCOMPARE(peer->requestsFor("click").last().json().value("token").toString(),
                 QString("tok"));
        QTRY_VERIFY(!QFile::exists(outboxPath("alice")));
    }

    void corruptOutboxIsMovedAside()
    {
        // A crash mid-write by some other program leaves half a file.
        {
            ClickOutbox writer(peer->url(), ClickOutbox::accountKey(QString(), "alice"));
            writer.record("crashed-session", 12);
        }
        QFile file(outboxPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray half = file.readAll().left(40);
        file.close();
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(half);
        file.close();

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("click outbox .* is corrupt"));
        QTest::failOnWarning(QRegularExpression("outbox"));
        openWindow();
        QCOMPARE(window->unconfirmedClickCount(), 0);
        QVERIFY(!QFile::exists(outboxPath()));
        const QFileInfo info(outboxPath());
        const QStringList aside =
            info.dir().entryList({info.fileName() + ".corrupt-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QFile moved(info.dir().filePath(aside[0]));
        QVERIFY(moved.open(QIODevice::ReadOnly));
        QCOMPARE(moved.readAll(), half);

        // The game goes on.
        click(20);
        QTRY_COMPARE(batches(), QList<int>{20});
        QTRY_COMPARE(window->unconfirmedClickCount(), 0);
    }

    void exchangeAppliedButUnansweredIsNotAppliedTwice_data()
    {
        QTest::addColumn<bool>("timesOut");
        // A closed connection is resent by the network library already; a reply that never comes
        // is resent by the client after its timeout.
        QTest::newRow("connection closed") << false;
        QTest::newRow("no reply until the timeout") << true;
    }

    void exchangeAppliedButUnansweredIsNotAppliedTwice()
    {
        QFETCH(bool, timesOut);
        game->clicks = 300;
        openWindow();
        // The server applies the exchange and the reply is lost; a repeat of the same request id
        // gets the stored reply.
        QStringList ids;
        int applied = 0;
        QMap<QString, ScriptedResponse> stored;
        peer->setHandler([&](const RecordedRequest &r) {
            if (r.action() != "exchange")
                return game->handle(r);
            const QString id = r.json().value("request_id").toString();
            ids << id;
            if (stored.contains(id))
                return stored.value(id);
            ++applied;
            game->clicks -= r.json().value("clicks_to_exchange").toInt();
            game->gold += 3;
            stored.insert(id, ScriptedResponse::ok(QJsonObject{
                                  {"new_gold", game->gold}, {"remaining_clicks", game->clicks}}));
            return timesOut ? ScriptedResponse::noAnswer() : ScriptedResponse::close();
        });
        auto script = std::make_unique<ModalScript>();
        script->then(ModalScript::enterInt(300));
        script->then(ModalScript::press(QMessageBox::Yes));
        auto failure = script->then(ModalScript::press(QMessageBox::Ok));
        QTest::mouseClick(button("兑换金币"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(toast(), QString("兑换成功: +3 金币"), 15000);
        QCOMPARE(applied, 1);
        QVERIFY(ids.size() >= 2);
        QVERIFY(!ids[0].isEmpty());
        QCOMPARE(ids.count(ids[0]), ids.size());
        QCOMPARE(shown("goldLabel"), QString("10"));
        QTRY_COMPARE(shown("clicksLabel"), QString("0"));
        QTest::qWait(200);
        QVERIFY(!failure->seen);
        script.reset();
        if (timesOut)
            return;

        // A second exchange is another action with its own id.
        game->clicks = 100;
        window->loadUserStats();
        QTRY_COMPARE(shown("clicksLabel"), QString("100"));
        ModalScript second;
        second.then(ModalScript::enterInt(100));
        second.then(ModalScript::press(QMessageBox::Yes));
        QTest::mouseClick(button("兑换金币"), Qt::LeftButton);
        QTRY_COMPARE(applied, 2);
        QTRY_COMPARE(shown("goldLabel"), QString("13"));
        QVERIFY(ids.last() != ids[0]);
    }

    void depositWithoutAnyReplyShowsTheServersFigures()
    {
        game->clicks = 40;
        openWindow();
        // Applied, and then every attempt loses its connection: the outcome is unknown.
        int attempts = 0;
        peer->setHandler([&](const RecordedRequest &r) {
            if (r.action() != "deposit")
                return game->handle(r);
            if (++attempts == 1) {
                game->clicks -= 25;
                game->balance += 250;
            }
            return ScriptedResponse::close();
        });
        ModalScript script;
        script.then(ModalScript::enterInt(25));
        script.then(ModalScript::press(QMessageBox::Yes));
        auto failure = script.then(ModalScript::press(QMessageBox::Ok));
        QTest::mouseClick(button("存入银行"), Qt::LeftButton);
        QTRY_VERIFY(failure->seen);
        QCOMPARE(failure->title, QString("存入失败"));
        QCOMPARE(failure->text, QString("服务器已关闭连接"));
        QVERIFY(attempts >= 2);
        QTRY_COMPARE(shown("clicksLabel"), QString("15"));
        QCOMPARE(shown("bankLabel"), QString("370 元"));
    }

    void outboxFollowsClicksLeftPendingAndLateConfirmations()
    {
        openWindow();
        game->holdClicks = true;
        restartSyncTick();
        click(20);
        QTRY_COMPARE(peer->heldCount(), 1);
        // A batch on its way alone is not written down...
        QVERIFY(!QFile::exists(outboxPath()));
        // ...but clicks left pending at a tick are, with the batch they wait behind: a crash
        // from here on loses nothing.
        click(5);
        QTRY_VERIFY(QFile::exists(outboxPath()));
        {
            ClickOutbox owed(peer->url(), ClickOutbox::accountKey(QString(), "alice"));
            QCOMPARE(owed.inherited().size(), 1);
            QCOMPARE(owed.inherited()[0].total, 25);
            QCOMPARE(owed.inherited()[0].owed(), 25);
        }

        // The replies come after the window is gone: they still settle the outbox.
        window->close();
        QTRY_VERIFY(!window);
        QTRY_COMPARE(peer->heldCount(), 2);
        game->clicks += 25;
        peer->releaseHeld(ScriptedResponse::ok(QJsonObject{{"total_clicks", game->clicks}}));
        QTRY_VERIFY(!QFile::exists(outboxPath()));
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

    void clickPlaysEffectsAtTheButtonCentre()
    {
        {
            QSettings settings;
            settings.setValue("effects_enabled/2", true); // fireworks: a burst from the centre
            settings.setValue("effects_enabled/5", true); // rainbow halo: rings around it
            settings.sync();
        }
        openWindow();
        auto *layer = window->findChild<EffectLayer *>("effectLayer");
        QVERIFY(layer);
        QCOMPARE(layer->geometry(), window->rect());
        QCOMPARE(window->children().constLast(), layer);

        click();
        const QPoint centre = clickButton()->mapTo(window.data(), clickButton()->rect().center());
        const QVector<EffectLayer::ItemState> items = layer->itemStates();
        QCOMPARE(items.size(), 12 + 7);
        for (const EffectLayer::ItemState &item : items) {
            if (item.family == EffectType::Ring)
                QCOMPARE(item.from.topLeft() +
                             QPoint(item.from.width() / 2, item.from.height() / 2),
                         centre);
            else
                QCOMPARE(item.from.topLeft(), centre);
        }
        // The button under the layer still takes the clicks.
        click(2);
        QCOMPARE(window->unconfirmedClickCount(), 3);
        QCOMPARE(layer->itemCount(), 3 * 19);
    }
    void visualEffectsSwitchStopsEffectsAndShake()
    {
        {
            QSettings settings;
            for (int id : {2, 4, 5}) // fireworks, the window shake, rainbow rings
                settings.setValue(QString("effects_enabled/%1").arg(id), true);
            settings.sync();
        }
        openWindow();
        auto *layer = window->findChild<EffectLayer *>("effectLayer");
        auto plusOnes = [this]() {
            int n = 0;
            for (QLabel *l : window->findChildren<QLabel *>())
                if (l->text() == "+1")
                    ++n;
            return n;
        };
        auto shaking = [this]() {
            for (auto *a : window->findChildren<QPropertyAnimation *>())
                if (a->targetObject() == window && a->propertyName() == "pos" &&
                    a->state() == QAbstractAnimation::Running)
                    return true;
            return false;
        };

        // Switched off through the dialog, as a player does it.
        applySettings([](SettingsDialog *dialog) {
            dialog->findChild<QCheckBox *>("effectsEnabledCheck")->setChecked(false);
        });
        QCOMPARE(QSettings().value("effects/enabled").toBool(), false);
        const QPoint home = window->pos();
        click(3);
        QCOMPARE(layer->itemCount(), 0);
        QVERIFY(!shaking());
        QCOMPARE(window->pos(), home);
        QVERIFY(plusOnes() >= 1); // the button's own feedback stays
        QCOMPARE(window->unconfirmedClickCount(), 3);
        QSettings settings;
        for (int id : {2, 4, 5}) // owned choices are kept
            QVERIFY(settings.value(QString("effects_enabled/%1").arg(id)).toBool());

        // On again: the next click plays, shake included.
        applySettings([](SettingsDialog *dialog) {
            dialog->findChild<QCheckBox *>("effectsEnabledCheck")->setChecked(true);
        });
        click();
        QCOMPARE(layer->itemCount(), 12 + 7);
        QVERIFY(shaking());
    }

    void soundFollowsItsSwitch()
    {
        openWindow();
        click(2);
        QVERIFY(!window->findChild<ClickSound *>()); // off by default
        QSettings settings;
        settings.setValue("sound/enabled", true);
        settings.sync();
        if (QMediaDevices::defaultAudioOutput().isNull())
            QTest::ignoreMessage(QtInfoMsg, "click sound off: no audio output device");
        click(30);
        auto *sound = window->findChild<ClickSound *>();
        QVERIFY(sound);
        QCOMPARE(sound->requested(), 30);
        QCOMPARE(window->findChildren<ClickSound *>().size(), 1);
        QCOMPARE(window->unconfirmedClickCount(), 32);
    }

    void ownedEffectSwitchedOffStaysOffAcrossReloads()
    {
        auto owning = [](const QStringList &classes) {
            QJsonArray list;
            for (const QString &c : classes)
                list.append(QJsonObject{{"css_class", c}});
            return ScriptedResponse::ok(
                QJsonObject{{"total_clicks", 5}, {"gold", 1}, {"effects", list}});
        };
        game->overrides["stats"].enqueue(owning({"effect-star", "effect-rainbow"}));
        window = new MainWindow(auth.get(), client.get(), fast());
        window->show();
        auto *effects = window->findChild<EffectManager *>();
        QTRY_VERIFY(effects->isEffectEnabled(1));
        QVERIFY(effects->isEffectEnabled(5));

        effects->setEffectEnabled(5, false);
        game->overrides["stats"].enqueue(owning({"effect-star", "effect-rainbow", "effect-snow"}));
        window->loadUserStats();
        QTRY_VERIFY(effects->isEffectEnabled(13)); // bought since: switched on
        QVERIFY(!effects->isEffectEnabled(5));
        QVERIFY(!QSettings().value("effects_enabled/5").toBool());

        // A switch stored for an effect the account does not own plays nothing.
        effects->setEffectEnabled(2, true);
        auto *layer = window->findChild<EffectLayer *>("effectLayer");
        click();
        QCOMPARE(layer->itemCount(), 8 + 10); // stars and snow only
    }

    void geometrySavedAndRestoredOnScreen()
    {
        openWindow();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        window->setGeometry(QRect(screen.topLeft() + QPoint(30, 40), QSize(700, 520)));
        const QRect placed = window->geometry();
        window->close();
        QTRY_VERIFY(!window);
        QVERIFY(!QSettings().value("window/geometry").toByteArray().isEmpty());

        openWindow();
        QCOMPARE(window->geometry(), placed);
        // Moved far off every screen, as after unplugging a monitor.
        window->move(screen.right() + 5000, screen.bottom() + 5000);
        window->close();
        QTRY_VERIFY(!window);
        openWindow();
        QVERIFY(screen.intersects(window->frameGeometry()));
        QCOMPARE(window->size(), placed.size());
    }

    void accentColourIsTheHighlight()
    {
        openWindow();
        QCOMPARE(qApp->palette().color(QPalette::Highlight), QColor("#00b4d8"));
        QSettings settings;
        settings.setValue("theme/accent_color", "#5a1e8c");
        settings.sync();
        // Stored, but the window applies it only with the dialog's Apply.
        applySettings([](SettingsDialog *) {});
        QCOMPARE(qApp->palette().color(QPalette::Highlight), QColor("#5a1e8c"));
        QCOMPARE(qApp->palette().color(QPalette::HighlightedText), QColor(Qt::white));
        // The theme switch keeps it.
        QTest::mouseClick(button("浅色主题"), Qt::LeftButton);
        QCOMPARE(qApp->palette().color(QPalette::Highlight), QColor("#5a1e8c"));
        settings.setValue("theme/accent_color", "#ffeb3b");
        settings.sync();
        applySettings([](SettingsDialog *) {});
        QCOMPARE(qApp->palette().color(QPalette::HighlightedText), QColor(Qt::black));
        settings.remove("theme/accent_color");
        applySettings([](SettingsDialog *) {});
        QCOMPARE(qApp->palette().color(QPalette::Highlight), QColor("#00b4d8"));
    }
};

TAPTEMPEST_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
