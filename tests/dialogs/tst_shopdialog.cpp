#include "dialogs/shopdialog.h"
#include "feedback/effectmanager.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "support/referenceserver.h"
#include "support/rendering.h"
#include "support/scriptedclient.h"
#include "support/scriptedpeer.h"
#include "support/testenv.h"
#include "support/uicheck.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <optional>

#include <memory>

namespace {

QJsonObject effect(int id, const QString &cssClass, const QString &name, int price,
                   const QJsonValue &owned)
{
    QJsonObject object{{"id", id}, {"name", name}, {"price", price}, {"owned", owned}};
    if (!cssClass.isNull())
        object.insert("css_class", cssClass);
    return object;
}

ScriptedResponse effectsReply(const QJsonArray &effects)
{
    return ScriptedResponse::ok(QJsonObject{{"effects", effects}});
}

// What a message box showed before the test answered it.
struct SeenBox
{
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
};

// Answers the next modal message box with OK and records it.
void answerNextBox(SeenBox *out)
{
    auto *timer = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(10000);
    QObject::connect(timer, &QTimer::timeout, [timer, out, deadline]() {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            if (deadline->hasExpired())
                timer->deleteLater();
            return;
        }
        out->seen = true;
        out->title = box->windowTitle();
        out->text = box->text();
        out->icon = box->icon();
        out->format = box->textFormat();
        timer->stop();
        timer->deleteLater();
        box->button(QMessageBox::Ok)->click();
    });
    timer->start(20);
}

// The outcome of one request, for tests that wait for it.
struct Outcome
{
    bool done = false;
    bool success = false;
    QJsonObject data;
    QString error;

    ApiCallback callback()
    {
        return [this](bool ok, const QJsonObject &d, const QString &e) {
            done = true;
            success = ok;
            data = d;
            error = e;
        };
    }
};

} // namespace

class TestShopDialog : public QObject, private ScriptedClient // peer, auth and api
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // In English, at the smallest size, and as a screen reader walks it.
    void englishAndAccessible_data()
    {
        QTest::addColumn<bool>("english");
        QTest::newRow("Chinese") << false;
        QTest::newRow("English") << true;
    }
    void englishAndAccessible()
    {
        QFETCH(bool, english);
        std::optional<uicheck::EnglishInterface> language;
        if (english) {
            language.emplace();
            QVERIFY(language->isInstalled());
        }
        peer->setHandler([](const RecordedRequest &) {
            // Names the server changed, and one it sends as the catalogue has it.
            return effectsReply({effect(1, "effect-star", "Gleam", 50, true),
                                 effect(2, "effect-firework", "Boom", 100, false),
                                 effect(3, "effect-bounce_text", "数字飘动", 30, false)});
        });
        ShopDialog dialog(auth.get(), api.get());
        dialog.show();
        auto *list = dialog.findChild<QListWidget *>("effectList");
        QTRY_COMPARE(list->count(), 3);
        dialog.resize(dialog.minimumSize());
        QTRY_COMPARE(dialog.size(), dialog.minimumSize());
        UI_CHECK_EMPTY(uicheck::unnamedControls(&dialog));
        UI_CHECK_EMPTY(uicheck::cutTexts(&dialog));
        UI_CHECK_EMPTY(uicheck::shortenedTexts(&dialog));
        const QString owned = list->item(0)->data(Qt::AccessibleDescriptionRole).toString();
        const QString notOwned = list->item(1)->data(Qt::AccessibleDescriptionRole).toString();
        if (english) {
            UI_CHECK_EMPTY(uicheck::chineseTexts(&dialog));
            QCOMPARE(list->item(0)->text(), QString("Gleam - 50 gold (owned)"));
            QCOMPARE(owned, QString("Price 50 gold, owned"));
            QCOMPARE(notOwned, QString("Price 100 gold, not owned; press to buy"));
            QCOMPARE(list->item(2)->text(),
                     EffectManager::effectName(3) + " - 30 gold (click to buy)");
            QCOMPARE(status(&dialog)->text(), QString("3 effects"));
        } else {
            QCOMPARE(list->item(2)->text(), QString("数字飘动 - 30 金币 (点击购买)"));
            QCOMPARE(status(&dialog)->text(), QString("共 3 个特效"));
            QCOMPARE(owned, QString("价格 50 金币，已拥有"));
            QVERIFY(notOwned.contains("未拥有"));
        }
    }

    void listsServerEffectsMarkingOwned();
    void emptyListCountsZero();
    void ownedEntryOrNoGoldSendsNothing_data();
    void ownedEntryOrNoGoldSendsNothing();
    void refusalShowsServerTextInBoxAndLabel();
    void purchaseUpdatesGoldBeforeListReloads();
    void failedLoadKeepsOldList();
    void closingWithPurchasePendingTouchesNothing();
    void returnOnTheSelectedItemBuysIt();
    void keyboardPurchaseKeepsSelectionAndMessage();
    void ownedEffectsShowGreen_data();
    void ownedEffectsShowGreen();
    // Last: it switches the process to trusting the reference server's certificate.
    void buyingFromReferenceServer();

private:
    QListWidget *list(QWidget *dialog) { return dialog->findChild<QListWidget *>("effectList"); }
    QLabel *status(QWidget *dialog) { return dialog->findChild<QLabel *>("statusLabel"); }
    QLabel *goldLabel(QWidget *dialog) { return dialog->findChild<QLabel *>("goldAmountLabel"); }
    void clickRow(QWidget *dialog, int row)
    {
        QListWidget *l = list(dialog);
        QListWidgetItem *item = l->item(row);
        QVERIFY(item);
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(item).center());
    }
    std::unique_ptr<ShopDialog> openShop()
    {
        auto dialog = std::make_unique<ShopDialog>(auth.get(), api.get());
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog.get()))
            return nullptr;
        return dialog;
    }
};

void TestShopDialog::init()
{
    QVERIFY(ScriptedClient::start());
}

void TestShopDialog::cleanup()
{
    ScriptedClient::stop();
}

void TestShopDialog::listsServerEffectsMarkingOwned()
{
    auth->updateStats(0, 42, "0");
    peer->enqueue(effectsReply({
        effect(1, "effect-star", "星星", 10, true), effect(2, "effect-heart", "爱心", 20, false),
        effect(3, "effect-star", "另一颗星", 5, false), // same class: skipped
        effect(4, "effect-fire", "火焰", 30, 1),        // a number is not "owned"
        effect(5, QString(), "无名甲", 1, false),
        effect(6, QString(), "无名乙", 1, false), // no class twice: the same class
    }));
    auto dialog = openShop();
    QVERIFY(dialog);

    QCOMPARE(goldLabel(dialog.get())->text(), QStringLiteral("金币: 42"));
    QTRY_COMPARE(status(dialog.get())->text(), QStringLiteral("共 4 个特效"));
    QCOMPARE(peer->requests.size(), 1);
    QCOMPARE(peer->requests.first().action(), QStringLiteral("effects/list"));

    QListWidget *l = list(dialog.get());
    QCOMPARE(l->count(), 4);
    QCOMPARE(l->item(0)->text(), QStringLiteral("星星 - 10 金币 (已拥有)"));
    QCOMPARE(l->item(1)->text(), QStringLiteral("爱心 - 20 金币 (点击购买)"));
    QCOMPARE(l->item(2)->text(), QStringLiteral("火焰 - 30 金币 (点击购买)"));
    QCOMPARE(l->item(3)->text(), QStringLiteral("无名甲 - 1 金币 (点击购买)"));

    QCOMPARE(l->item(0)->data(ShopDialog::EffectIdRole).toInt(), 1);
    QCOMPARE(l->item(0)->data(ShopDialog::OwnedRole).toBool(), true);
    QCOMPARE(l->item(0)->data(ShopDialog::CssClassRole).toString(), QStringLiteral("effect-star"));
    QCOMPARE(l->item(0)->foreground().color(), QColor("#2ea043"));

    QCOMPARE(l->item(2)->data(ShopDialog::EffectIdRole).toInt(), 4);
    QCOMPARE(l->item(2)->data(ShopDialog::OwnedRole).toBool(), false);
    for (int row = 1; row < l->count(); ++row)
        QVERIFY2(!l->item(row)->data(Qt::ForegroundRole).isValid(),
                 qPrintable(l->item(row)->text()));
}

void TestShopDialog::emptyListCountsZero()
{
    peer->enqueue(effectsReply({}));
    auto dialog = openShop();
    QVERIFY(dialog);
    QTRY_COMPARE(status(dialog.get())->text(), QStringLiteral("共 0 个特效"));
    QCOMPARE(list(dialog.get())->count(), 0);
    QCOMPARE(goldLabel(dialog.get())->text(), QStringLiteral("金币: 0"));
}

void TestShopDialog::ownedEntryOrNoGoldSendsNothing_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<qint64>("gold");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QMessageBox::Icon>("icon");
    // Owned: a notice, whatever the gold.
    QTest::newRow("owned") << 0 << qint64(1000) << QStringLiteral("提示")
                           << QStringLiteral("您已经拥有此特效!") << QMessageBox::Information;
    // Not owned, no gold: a warning.
    QTest::newRow("no gold") << 1 << qint64(0) << QStringLiteral("金币不足")
                             << QStringLiteral("您的金币不足，请先兑换金币!")
                             << QMessageBox::Warning;
}

void TestShopDialog::ownedEntryOrNoGoldSendsNothing()
{
    QFETCH(int, row);
    QFETCH(qint64, gold);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QMessageBox::Icon, icon);
    peer->enqueue(effectsReply(
        {effect(1, "effect-star", "星星", 10, true), effect(2, "effect-heart", "爱心", 1, false)}));
    auto dialog = openShop();
    QVERIFY(dialog);
    QTRY_COMPARE(list(dialog.get())->count(), 2);
    QTRY_COMPARE(api->requestsInFlight(), 0);

    auth->updateStats(0, gold, "0");
    SeenBox box;
    answerNextBox(&box);
    clickRow(dialog.get(), row);
    QVERIFY(box.seen);
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, icon);
    QCOMPARE(api->requestsInFlight(), 0);

    QVERIFY(peer->requestsFor("buy_effect").isEmpty());
    QCOMPARE(peer->requests.size(), 1);
}

void TestShopDialog::refusalShowsServerTextInBoxAndLabel()
{
    const QString refusal = QStringLiteral("金币不足 <b>需要 500</b>");
    peer->setHandler([refusal](const RecordedRequest &request) {
        if (request.action() == "buy_effect")
            return ScriptedResponse::fail(refusal);
        return effectsReply({effect(7, "effect-rainbow", "彩虹", 500, false)});
    });
    auth->updateStats(3, 1, "9");
    auto dialog = openShop();
    QVERIFY(dialog);
    QTRY_COMPARE(list(dialog.get())->count(), 1);

    // One gold is enough to ask; the price is the server's to judge.
    SeenBox box;
    answerNextBox(&box);
    clickRow(dialog.get(), 0);
    QCOMPARE(status(dialog.get())->text(), QStringLiteral("购买中..."));
    QTRY_VERIFY(box.seen);

    const QList<RecordedRequest> buys = peer->requestsFor("buy_effect");
    QCOMPARE(buys.size(), 1);
    QCOMPARE(buys.first().method, QByteArray("POST"));
    QCOMPARE(buys.first().json().value("effect_id").toInt(), 7);

    QCOMPARE(box.title, QStringLiteral("购买失败"));
    QCOMPARE(box.text, refusal);
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.format, Qt::PlainText); // the server's text is never markup
    QCOMPARE(status(dialog.get())->text(), QStringLiteral("购买失败: ") + refusal);
    QCOMPARE(status(dialog.get())->textFormat(), Qt::PlainText);

    // A refusal changes nothing and reloads nothing.
    QCOMPARE(auth->gold(), 1);
    QCOMPARE(goldLabel(dialog.get())->text(), QStringLiteral("金币: 1"));
    QCOMPARE(peer->requestsFor("effects/list").size(), 1);
}

void TestShopDialog::purchaseUpdatesGoldBeforeListReloads()
{
    int listRequests = 0;
    peer->setHandler([&listRequests](const RecordedRequest &request) {
        if (request.action() == "buy_effect")
            return ScriptedResponse::ok(QJsonObject{{"new_gold", 3}, {"effect_name", "爱心"}});
        if (++listRequests == 1)
            return effectsReply({effect(1, "effect-star", "星星", 10, true),
                                 effect(2, "effect-heart", "爱心", 7, false)});
        return ScriptedResponse::noAnswer();
    });
    auth->updateStats(77, 10, "123");
    auto dialog = openShop();
    QVERIFY(dialog);
    QTRY_COMPARE(list(dialog.get())->count(), 2);

    clickRow(dialog.get(), 1);
    // The reload is held by the peer: gold is already new, the list still old.
    QTRY_COMPARE(peer->heldCount(), 1);
    QCOMPARE(listRequests, 2);
    QCOMPARE(goldLabel(dialog.get())->text(), QStringLiteral("金币: 3"));
    QCOMPARE(auth->gold(), 3);
    QCOMPARE(auth->clicks(), 77);
    QCOMPARE(auth->balance(), QStringLiteral("123"));
    // The purchase message is not replaced by the loading text.
    QCOMPARE(status(dialog.get())->text(), QStringLiteral("购买成功: 爱心"));
    QCOMPARE(list(dialog.get())->item(1)->data(ShopDialog::OwnedRole).toBool(), false);

    peer->releaseHeld(effectsReply(
        {effect(1, "effect-star", "星星", 10, true), effect(2, "effect-heart", "爱心", 7, true)}));
    QTRY_COMPARE(list(dialog.get())->item(1)->text(), QStringLiteral("爱心 - 7 金币 (已拥有)"));
    QCOMPARE(status(dialog.get())->text(), QStringLiteral("购买成功: 爱心"));
    // The mouse's choice is still selected on the reloaded list.
    QCOMPARE(list(dialog.get())->currentRow(), 1);
    QVERIFY(list(dialog.get())->item(1)->isSelected());
    QCOMPARE(list(dialog.get())->item(1)->foreground().color(), QColor("#2ea043"));
    QCOMPARE(goldLabel(dialog.get())->text(), QStringLiteral("金币: 3"));
}

void TestShopDialog::failedLoadKeepsOldList()
{
    // The network library retries a GET once on a closed connection, so every answer of a phase
    // is the same.
    enum
    {
        List,
        Close,
        Refuse
    } phase = List;
    peer->setHandler([&phase](const RecordedRequest &) {
        if (phase == Close)
            return ScriptedResponse::close();
        if (phase == Refuse)
            return ScriptedResponse::fail(QStringLiteral("维护中"));
        return effectsReply({effect(1, "effect-star", "星星", 10, true),
                             effect(2, "effect-heart", "爱心", 7, false)});
    });
    auto dialog = openShop();
    QVERIFY(dialog);
    QTRY_COMPARE(status(dialog.get())->text(), QStringLiteral("共 2 个特效"));

    // A broken transfer: the network error comes first, the load's own failure last.
    QSignalSpy networkErrors(api.get(), &ApiClient::networkError);
    phase = Close;
    dialog->loadEffects();
    QTRY_VERIFY(status(dialog.get())->text().startsWith(QStringLiteral("加载失败: ")));
    QCOMPARE(networkErrors.size(), 1);
    QCOMPARE(status(dialog.get())->text(),
             QStringLiteral("加载失败: ") + networkErrors.first().first().toString());
    QCOMPARE(list(dialog.get())->count(), 2);
    QCOMPARE(list(dialog.get())->item(0)->text(), QStringLiteral("星星 - 10 金币 (已拥有)"));

    // A refusal from the server.
    phase = Refuse;
    dialog->loadEffects();
    QTRY_COMPARE(status(dialog.get())->text(), QStringLiteral("加载失败: 维护中"));
    QCOMPARE(list(dialog.get())->count(), 2);
    QCOMPARE(list(dialog.get())->item(1)->text(), QStringLiteral("爱心 - 7 金币 (点击购买)"));
}

void TestShopDialog::closingWithPurchasePendingTouchesNothing()
{
    peer->setHandler([](const RecordedRequest &request) {
        if (request.action() == "buy_effect")
            return ScriptedResponse::noAnswer();
        return effectsReply({effect(2, "effect-heart", "爱心", 7, false)});
    });
    auth->updateStats(0, 5, "0");
    QPointer<ShopDialog> dialog = new ShopDialog(auth.get(), api.get());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QTRY_COMPARE(list(dialog)->count(), 1);

    clickRow(dialog, 0);
    QTRY_COMPARE(peer->heldCount(), 1);
    QPushButton *close = nullptr;
    for (QPushButton *button : dialog->findChildren<QPushButton *>())
        if (button->text() == QStringLiteral("关闭"))
            close = button;
    QVERIFY(close);
    QCOMPARE(close->objectName(), QStringLiteral("secondaryButton"));
    close->click();
    QTRY_VERIFY(dialog.isNull());

    // The server carried the purchase out; the shop is gone and must not act on it.
    peer->releaseHeld(ScriptedResponse::ok(QJsonObject{{"new_gold", 0}, {"effect_name", "爱心"}}));
    QTRY_COMPARE(api->requestsInFlight(), 0);
    QCOMPARE(auth->gold(), 5);
    QCOMPARE(peer->requestsFor("effects/list").size(), 1);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestShopDialog::returnOnTheSelectedItemBuysIt()
{
    peer->setHandler([](const RecordedRequest &request) {
        if (request.action() == "buy_effect")
            return ScriptedResponse::noAnswer();
        return effectsReply({effect(1, "effect-star", "星星", 10, true),
                             effect(2, "effect-heart", "爱心", 7, false)});
    });
    auth->updateStats(0, 10, "0");
    auto dialog = openShop();
    QVERIFY(dialog);
    QTRY_COMPARE(list(dialog.get())->count(), 2);
    QApplication::setActiveWindow(dialog.get());
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    QListWidget *l = list(dialog.get());
    l->setFocus();

    // On an owned item: the same notice as a click, and the shop stays open.
    l->setCurrentRow(0);
    SeenBox owned;
    answerNextBox(&owned);
    QTest::keyClick(l, Qt::Key_Return);
    QVERIFY(owned.seen);
    QCOMPARE(owned.text, QStringLiteral("您已经拥有此特效!"));
    QVERIFY(dialog->isVisible());

    // On one to buy: the purchase goes out, keypad Enter as well.
    l->setCurrentRow(1);
    QTest::keyClick(l, Qt::Key_Return);
    QTRY_COMPARE(peer->requestsFor("buy_effect").size(), 1);
    QCOMPARE(peer->requestsFor("buy_effect")[0].json().value("effect_id").toInt(), 2);
    QTest::keyClick(l, Qt::Key_Enter, Qt::KeypadModifier);
    QTRY_COMPARE(peer->requestsFor("buy_effect").size(), 2);
    QVERIFY(dialog->isVisible());
}

void TestShopDialog::keyboardPurchaseKeepsSelectionAndMessage()
{
    int listRequests = 0;
    peer->setHandler([&listRequests](const RecordedRequest &request) {
        if (request.action() == "buy_effect")
            return ScriptedResponse::ok(QJsonObject{{"new_gold", 1}, {"effect_name", "雪花"}});
        const bool bought = ++listRequests > 1;
        return effectsReply({effect(1, "effect-star", "星星", 10, true),
                             effect(2, "effect-heart", "爱心", 7, false),
                             effect(3, "effect-snow", "雪花", 9, bought)});
    });
    auth->updateStats(0, 10, "0");
    auto dialog = openShop();
    QVERIFY(dialog);
    QListWidget *l = list(dialog.get());
    QTRY_COMPARE(l->count(), 3);
    QApplication::setActiveWindow(dialog.get());
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    l->setFocus();
    l->setCurrentRow(0);
    QTest::keyClick(l, Qt::Key_Down);
    QTest::keyClick(l, Qt::Key_Down);
    QCOMPARE(l->currentRow(), 2);

    // The moments the reloaded list arrives and the message goes, read inside the event loop.
    QElapsedTimer clock;
    clock.start();
    qint64 reloaded = -1;
    qint64 replaced = -1;
    connect(l->model(), &QAbstractItemModel::rowsInserted, this,
            [&] { reloaded = clock.elapsed(); });
    auto *hold = dialog->findChild<QTimer *>("purchaseMessageTimer");
    QVERIFY(hold);
    connect(hold, &QTimer::timeout, this, [&] { replaced = clock.elapsed(); });

    QTest::keyClick(l, Qt::Key_Return);
    QTRY_COMPARE(l->item(2)->text(), QStringLiteral("雪花 - 9 金币 (已拥有)"));
    QCOMPARE(listRequests, 2);
    QCOMPARE(l->currentRow(), 2);
    QCOMPARE(l->selectedItems(), QList<QListWidgetItem *>{l->item(2)});
    QVERIFY(l->hasFocus());
    QCOMPARE(status(dialog.get())->text(), QStringLiteral("购买成功: 雪花"));

    // Readable for 3 s after the reload, then the count returns.
    QTRY_COMPARE_WITH_TIMEOUT(status(dialog.get())->text(), QStringLiteral("共 3 个特效"), 6000);
    QVERIFY(reloaded >= 0 && replaced >= 0);
    QVERIFY2(replaced - reloaded >= 3000, qPrintable(QString::number(replaced - reloaded)));
    QCOMPARE(l->currentRow(), 2);

    // The next key moves on from the bought item, not from the top.
    QTest::keyClick(l, Qt::Key_Up);
    QCOMPARE(l->currentRow(), 1);
}

void TestShopDialog::ownedEffectsShowGreen_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QColor>("green");
    QTest::newRow("dark") << true << QColor("#2ea043");
    // The nearest shade of that green readable (4.5:1) on the light list.
    QTest::newRow("light") << false << QColor("#268638");
}

// The sheets colour every list item; the green of an owned effect must still show.
void TestShopDialog::ownedEffectsShowGreen()
{
    QFETCH(bool, dark);
    rendering::applyThemeSheet(dark);
    peer->enqueue(effectsReply({effect(1, "effect-star", "星星星星", 10, true),
                                effect(2, "effect-heart", "爱心爱心", 7, false)}));
    auto dialog = openShop();
    QVERIFY(dialog);
    QListWidget *l = list(dialog.get());
    QTRY_COMPARE(l->count(), 2);
    l->clearSelection();
    l->setCurrentRow(-1);

    const QImage image = rendering::render(l->viewport());
    QFETCH(QColor, green);
    const int ownedGreen = rendering::pixelsNear(image, l->visualItemRect(l->item(0)), green);
    const int otherGreen = rendering::pixelsNear(image, l->visualItemRect(l->item(1)), green);
    QVERIFY2(ownedGreen > 20, qPrintable(QString::number(ownedGreen)));
    QCOMPARE(otherGreen, 0);

    // Selected, it takes the sheet's selection colours like any other item.
    l->setCurrentRow(0);
    const QImage selected = rendering::render(l->viewport());
    QCOMPARE(rendering::pixelsNear(selected, l->visualItemRect(l->item(0)), green), 0);
    qApp->setStyleSheet(QString());
}

void TestShopDialog::buyingFromReferenceServer()
{
    if (!QFileInfo::exists(ReferenceServer::binaryPath()))
        QSKIP("the reference server is not built");
    ReferenceServer server;
    QVERIFY2(server.start({"--click-rate", "0"}), qPrintable(server.errorString()));
    QVERIFY(server.addUser("shopper", "geheim-42"));
    server.exportEnvironment();
    ApiClient::configureSsl();
    AuthManager session;
    ApiClient client;
    client.setAuthManager(&session);

    Outcome login;
    client.login("shopper", "geheim-42", login.callback());
    QTRY_VERIFY_WITH_TIMEOUT(login.done, 15000);
    QVERIFY2(login.success, qPrintable(login.error));
    session.handleLoginResponse(login.data);

    // 100 clicks buy 1 gold: enough to ask, too little for any effect.
    Outcome clicks;
    client.sendClicks(100, clicks.callback());
    QTRY_VERIFY_WITH_TIMEOUT(clicks.done, 15000);
    QVERIFY2(clicks.success, qPrintable(clicks.error));
    Outcome exchange;
    client.exchangeGold(100, exchange.callback());
    QTRY_VERIFY_WITH_TIMEOUT(exchange.done, 15000);
    QVERIFY2(exchange.success, qPrintable(exchange.error));
    session.updateStats(exchange.data.value("remaining_clicks").toInt(),
                        exchange.data.value("new_gold").toInt(), session.balance());
    QCOMPARE(session.gold(), 1);

    ShopDialog dialog(&session, &client);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTRY_COMPARE_WITH_TIMEOUT(status(&dialog)->text(), QStringLiteral("共 39 个特效"), 15000);
    QListWidget *l = list(&dialog);
    QCOMPARE(l->count(), 39);
    for (int row = 0; row < l->count(); ++row)
        QVERIFY(!l->item(row)->data(ShopDialog::OwnedRole).toBool());

    SeenBox refusal;
    answerNextBox(&refusal);
    clickRow(&dialog, 0);
    QTRY_VERIFY_WITH_TIMEOUT(refusal.seen, 15000);
    QCOMPARE(refusal.title, QStringLiteral("购买失败"));
    QVERIFY(!refusal.text.isEmpty());
    QCOMPARE(status(&dialog)->text(), QStringLiteral("购买失败: ") + refusal.text);
    QCOMPARE(session.gold(), 1);
    const ReferenceServer::Account account = server.account("shopper");
    QVERIFY(account.found);
    QCOMPARE(account.gold, 1);
    QVERIFY(account.ownedEffects.isEmpty());
}

TAPTEMPEST_TEST_MAIN(TestShopDialog)
#include "tst_shopdialog.moc"
