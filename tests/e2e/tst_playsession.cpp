#include "app/application.h"
#include "dialogs/logindialog.h"
#include "dialogs/rankingdialog.h"
#include "dialogs/settingsdialog.h"
#include "dialogs/shopdialog.h"
#include "feedback/clickbutton.h"
#include "feedback/effectlayer.h"
#include "mainwindow/mainwindow.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "support/modalscript.h"
#include "support/referenceserver.h"
#include "support/testenv.h"
#include "support/windowlookup.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>

namespace {

const QString kUser = QStringLiteral("player1");
const QString kPassword = QStringLiteral("correct horse");

ModalScript::Action logIn()
{
    return windowlookup::logIn(kUser, kPassword);
}

QString text(QWidget *window, const char *name)
{
    return window->findChild<QLabel *>(name)->text();
}

// Items that effects draw over the window ("+1" of the drifting-number effect).
int effectItems(QWidget *window, const QString &symbol)
{
    const auto *layer = window->findChild<EffectLayer *>("effectLayer");
    if (!layer)
        return 0;
    int n = 0;
    for (const EffectLayer::ItemState &item : layer->itemStates())
        if (item.text == symbol)
            ++n;
    return n;
}

} // namespace

using windowlookup::buttonWithText;
using windowlookup::visibleMainWindow;
using windowlookup::whenMainWindowShown;

class TestPlaySession : public QObject
{
    Q_OBJECT

private:
    ReferenceServer server;
    ModalScript *script = nullptr;
    bool finished = false;

    void play(MainWindow *window)
    {
        ClickButton *button = window->findChild<ClickButton *>("clickButton");
        QVERIFY(button);
        QTRY_COMPARE(text(window, "clicksLabel"), QString("10000"));

        for (int i = 0; i < 45; ++i)
            QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(text(window, "clicksLabel"), QString("10045"));
        QTRY_COMPARE_WITH_TIMEOUT(window->unconfirmedClickCount(), 0, 8000);

        script->then(ModalScript::enterInt(3000));
        script->then(ModalScript::press(QMessageBox::Yes));
        buttonWithText(window, "兑换金币")->click();
        QTRY_COMPARE(text(window, "goldLabel"), QString("30"));
        QTRY_COMPARE(text(window, "clicksLabel"), QString("7045"));

        script->then(ModalScript::enterInt(100));
        script->then(ModalScript::press(QMessageBox::Yes));
        buttonWithText(window, "存入银行")->click();
        QTRY_COMPARE(text(window, "bankLabel"), QString("1000 元"));

        // The shop: buy the drifting number (30 gold), then close.
        bool bought = false;
        script->then([&bought](QWidget *modal) {
            auto *shop = qobject_cast<ShopDialog *>(modal);
            QVERIFY(shop);
            auto *list = shop->findChild<QListWidget *>("effectList");
            QTRY_COMPARE(list->count(), 39);
            QListWidgetItem *item = nullptr;
            for (int i = 0; i < list->count(); ++i)
                if (list->item(i)->data(ShopDialog::EffectIdRole).toInt() == 3)
                    item = list->item(i);
            QVERIFY(item);
            QVERIFY(item->text().startsWith("数字飘动 - 30 金币"));
            list->setCurrentItem(item);
            emit list->itemClicked(item);
            auto *status = shop->findChild<QLabel *>("statusLabel");
            QTRY_COMPARE(shop->findChild<QLabel *>("goldAmountLabel")->text(), QString("金币: 0"));
            QTRY_COMPARE(status->text(), QString("购买成功: 数字飘动"));
            // Reloaded with the bought effect owned, and still the one selected.
            QTRY_VERIFY(list->currentItem() &&
                        list->currentItem()->text() == QString("数字飘动 - 30 金币 (已拥有)"));
            QCOMPARE(status->text(), QString("购买成功: 数字飘动"));
            bought = true;
            shop->reject();
        });
        buttonWithText(window, "特效商店")->click();
        QVERIFY(bought);
        // Closing the shop reloads the statistics, which switches the bought effect on; the
        // next click plays it.
        QTRY_VERIFY(QSettings().value("effects_enabled/3").toBool());
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(effectItems(window, "+1"), 1);
        window->forceSync();
        QTRY_COMPARE_WITH_TIMEOUT(window->unconfirmedClickCount(), 0, 8000);

        bool ranked = false;
        script->then([&ranked](QWidget *modal) {
            auto *ranking = qobject_cast<RankingDialog *>(modal);
            QVERIFY(ranking);
            auto *table = ranking->findChild<QTableWidget *>("rankingTable");
            QTRY_VERIFY(table->rowCount() >= 1);
            QCOMPARE(table->item(0, 1)->text(), kUser);
            QCOMPARE(table->item(0, 2)->text(), QString("10046"));
            ranked = true;
            ranking->reject();
        });
        buttonWithText(window, "排行榜")->click();
        QVERIFY(ranked);

        script->then([](QWidget *modal) {
            auto *settings = qobject_cast<SettingsDialog *>(modal);
            QVERIFY(settings);
            settings->findChild<QSpinBox *>("widthSpin")->setValue(260);
            buttonWithText(settings, "应用")->click();
        });
        buttonWithText(window, "设置")->click();
        QCOMPARE(window->findChild<QLabel *>("toastLabel")->text(), QString("设置已更新"));
        QCOMPARE(button->width(), 260);

        buttonWithText(window, "浅色主题")->click();
        QVERIFY(qApp->styleSheet().startsWith("/* TapTempest 浅色主题样式表 */"));

        // Log out, log in again, and close the new window.
        script->then(ModalScript::press(QMessageBox::Yes));
        script->then(logIn());
        QPointer<MainWindow> first(window);
        whenMainWindowShown([this, first](MainWindow *second) {
            QVERIFY(second != first.data());
            QTRY_COMPARE(text(second, "clicksLabel"), QString("6946"));
            QCOMPARE(text(second, "goldLabel"), QString("0"));
            finished = true;
            second->close();
        });
        buttonWithText(window, "退出登录")->click();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(server.start({"--click-rate", "0"}), qPrintable(server.errorString()));
        QVERIFY(server.addUser(kUser, kPassword));
        server.exportEnvironment();
        ApiClient::configureSsl();
    }

    void wholeSession()
    {
        testenv::clearSettings();
        AuthManager auth;
        ApiClient client;
        client.setAuthManager(&auth);

        // An earlier session left the account with 10 000 clicks.
        bool seeded = false;
        client.login(kUser, kPassword, [&](bool ok, const QJsonObject &data, const QString &) {
            QVERIFY(ok);
            auth.handleLoginResponse(data);
            client.sendClicks(10000,
                              [&](bool ok, const QJsonObject &, const QString &) { seeded = ok; });
        });
        QTRY_VERIFY(seeded);
        auth.logout();
        QCOMPARE(server.account(kUser).lifetimeClicks, qint64(10000));

        ModalScript script;
        this->script = &script;
        script.then(logIn());
        whenMainWindowShown([this](MainWindow *window) { play(window); });
        Application::runSessionLoop(&auth, &client, qApp);
        client.waitForClickRequests();
        QVERIFY(finished);

        const ReferenceServer::Account account = server.account(kUser);
        QVERIFY(account.found);
        QCOMPARE(account.lifetimeClicks, qint64(10046));
        QCOMPARE(account.clicks, qint64(10046 - 3000 - 100));
        QCOMPARE(account.gold, qint64(0));
        QCOMPARE(account.bankBalance, qint64(1000));
        QCOMPARE(account.ownedEffects, QList<int>{3});
        QVERIFY(auth.isLoggedIn());
    }
};

TAPTEMPEST_TEST_MAIN(TestPlaySession)
#include "tst_playsession.moc"
