#include "mainwindow.h"

#include "app/application.h"
#include "app/settingskeys.h"
#include "dialogs/rankingdialog.h"
#include "dialogs/settingsdialog.h"
#include "dialogs/shopdialog.h"
#include "feedback/clickbutton.h"
#include "feedback/effectmanager.h"
#include "net/apiclient.h"
#include "net/authmanager.h"
#include "net/displaytext.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QJsonArray>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>

#include <climits>
#include <limits>

namespace {

// Server and network texts are shown as they are, never interpreted as markup.
void warnPlain(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// The input dialog holds an int: one operation takes at most 2,147,483,647 clicks.
int inputLimit(qint64 available)
{
    return int(qMin<qint64>(available, std::numeric_limits<int>::max()));
}

QString balanceText(double value)
{
    return QString::number(value, 'f', 0);
}

QLabel *addCaption(QGridLayout *grid, const QString &text, int row, int column)
{
    auto *label = new QLabel(text);
    label->setStyleSheet("font-weight: bold; color: #8b949e;");
    grid->addWidget(label, row, column);
    return label;
}

QLabel *addValue(QGridLayout *grid, const QString &text, const QString &objectName,
                 const QString &color, int row, int column)
{
    auto *label = new QLabel(text);
    label->setObjectName(objectName);
    label->setStyleSheet(
        QStringLiteral("font-size: 15px; font-weight: bold; color: %1;").arg(color));
    grid->addWidget(label, row, column);
    return label;
}

} // namespace

MainWindow::MainWindow(AuthManager *authManager, ApiClient *apiClient, QWidget *parent)
    : QMainWindow(parent), authManager(authManager), apiClient(apiClient),
      syncId(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    setWindowTitle("TapTempest - 点击游戏");
    resize(800, 600);
    setMinimumSize(640, 480);

    effectManager = new EffectManager(this);
    setupUi();

    outbox = std::make_shared<ClickOutbox>(
        apiClient->endpoint(),
        ClickOutbox::accountKey(authManager->userId(), authManager->username()));
    inherited = outbox->inherited();
    for (const ClickOutbox::Entry &entry : std::as_const(inherited))
        unconfirmedClicks += int(qMin<qint64>(entry.owed(), INT_MAX - unconfirmedClicks));
    if (unconfirmedClicks > 0)
        clicksLabel->setText(QString::number(authManager->clicks() + unconfirmedClicks));

    toastTimer = new QTimer(this);
    toastTimer->setSingleShot(true);
    connect(toastTimer, &QTimer::timeout, this, [this]() {
        if (toastLabel)
            toastLabel->hide();
    });

    setupSyncTimer();
    applyButtonSettings();
    applyTheme();
    connect(apiClient, &ApiClient::networkError, this, &MainWindow::onNetworkError);
}

void MainWindow::setupUi()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);
    auto *mainLayout = new QVBoxLayout(central);
    mainLayout->setContentsMargins(16, 16, 16, 8);
    mainLayout->setSpacing(12);

    auto *infoGroup = new QGroupBox("用户信息", central);
    auto *grid = new QGridLayout(infoGroup);
    grid->setSpacing(16);
    grid->setContentsMargins(16, 12, 16, 12);
    addCaption(grid, "用户:", 0, 0);
    usernameLabel = addValue(grid, DisplayText::clean(authManager->username()), "usernameLabel",
                             "#00b4d8", 0, 1);
    addCaption(grid, "总点击:", 0, 2)
        ->setToolTip("可以兑换金币或存入银行的点击数；已花掉的点击不再计入");
    clicksLabel = addValue(grid, "0", "clicksLabel", "#ff8f00", 0, 3);
    addCaption(grid, "金币:", 1, 0);
    goldLabel = addValue(grid, "0", "goldLabel", "#ffd700", 1, 1);
    addCaption(grid, "银行余额:", 1, 2);
    bankLabel = addValue(grid, "0 元", "bankLabel", "#00b4d8", 1, 3);
    mainLayout->addWidget(infoGroup, 0);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    clickButton = new ClickButton(this);
    clickButton->setObjectName("clickButton");
    clickButton->setText("CLICK ME!");
    clickButton->setMinimumSize(200, 100);
    clickButton->setCursor(Qt::PointingHandCursor);
    connect(clickButton, &QPushButton::clicked, this, &MainWindow::onButtonClicked);
    // Aligned, the row can take the spare height; unaligned, the fixed-size button would cap it
    // and leave the spare height to the info box.
    buttonRow->addWidget(clickButton, 0, Qt::AlignCenter);
    buttonRow->addStretch();
    mainLayout->addLayout(buttonRow, 1);

    auto *functionRow = new QHBoxLayout;
    functionRow->setSpacing(8);
    auto addButton = [&](const QString &text, const QString &objectName, auto slot) {
        auto *button = new QPushButton(text, central);
        button->setObjectName(objectName);
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QPushButton::clicked, this, slot);
        functionRow->addWidget(button);
        return button;
    };
    exchangeButton = addButton("兑换金币", "funcButton", &MainWindow::onExchangeGold);
    depositButton = addButton("存入银行", "funcButton", &MainWindow::onDepositToBank);
    shopButton = addButton("特效商店", "funcButton", &MainWindow::onOpenShop);
    rankingButton = addButton("排行榜", "funcButton", &MainWindow::onOpenRanking);
    settingsButton = addButton("设置", "funcButton", &MainWindow::onOpenSettings);
    themeButton = addButton("切换主题", "funcButton", &MainWindow::onToggleTheme);
    logoutButton = addButton("退出登录", "dangerButton", &MainWindow::onLogout);
    mainLayout->addLayout(functionRow, 0);

    auto *quitAction = new QAction(this);
    // Ctrl+Q also where the platform names no standard quit key (the Windows scheme has none).
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (!quitKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Q)))
        quitKeys.append(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setShortcuts(quitKeys);
    connect(quitAction, &QAction::triggered, this, &QWidget::close);
    addAction(quitAction);

    statusBar()->setObjectName("statusBar");
    statusBar()->setStyleSheet("QStatusBar { background-color: #161b22; }");
    toastLabel = new QLabel(this);
    toastLabel->setObjectName("toastLabel");
    toastLabel->setAlignment(Qt::AlignCenter);
    toastLabel->setTextFormat(Qt::PlainText);
    toastLabel->hide();
    statusBar()->addPermanentWidget(toastLabel, 1);
}

void MainWindow::setupSyncTimer()
{
    syncTimer = new QTimer(this);
    syncTimer->setObjectName("syncTimer");
    syncTimer->setInterval(3000);
    connect(syncTimer, &QTimer::timeout, this, &MainWindow::onSyncTimer);
    syncTimer->start();
}

void MainWindow::updateStatsDisplay()
{
    usernameLabel->setText(DisplayText::clean(authManager->username()));
    clicksLabel->setText(QString::number(authManager->clicks() + unconfirmedClicks));
    goldLabel->setText(QString::number(authManager->gold()));
    bankLabel->setText(QStringLiteral("%1 元").arg(authManager->balance()));
}

void MainWindow::showToast(const QString &text)
{
    if (toastLabel) {
        toastLabel->setText(text);
        toastLabel->show();
    }
    toastTimer->start(3000);
}

void MainWindow::onNetworkError(const QString &errorMessage)
{
    showToast("网络错误: " + errorMessage);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (statsLoaded)
        return;
    QPointer<MainWindow> self(this);
    QTimer::singleShot(100, Qt::PreciseTimer, this, [self]() {
        if (self && self->isVisible()) {
            self->loadUserStats();
            // What earlier windows left owed goes first; this window's own clicks keep their tick.
            if (!self->inherited.isEmpty())
                self->forceSync();
        }
    });
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Clicks not yet sent leave with the window, whatever is in flight. After the session has
    // ended there is no token left to send them with. Either way the outbox keeps them until
    // the server confirms them.
    recordOwed();
    if (authManager->isLoggedIn())
        flushPendingClicks();
    event->accept();
    QCoreApplication::quit();
}

// ---- Clicks and synchronisation -------------------------------------------------------------

void MainWindow::onButtonClicked()
{
    ++pendingClicks;
    ++unconfirmedClicks;
    ++clicksMade;
    if (effectManager) {
        const QPoint centre = clickButton->mapToGlobal(clickButton->rect().center());
        for (int id = 1; id <= EffectManager::effectCount(); ++id) {
            if (effectManager->isEffectEnabled(id))
                effectManager->playEffect(id, centre);
        }
    }
    clicksLabel->setText(QString::number(authManager->clicks() + unconfirmedClicks));
    if (pendingClicks >= syncThreshold)
        forceSync();
}

void MainWindow::forceSync()
{
    if (syncing || !authManager->isLoggedIn())
        return;
    if (!inherited.isEmpty()) {
        sendInherited();
        return;
    }
    if (pendingClicks <= 0)
        return;
    const int count = pendingClicks;
    pendingClicks = 0;
    syncing = true;
    sendBatch(count, true);
}

void MainWindow::onSyncTimer()
{
    forceSync();
    if (pendingClicks > 0)
        recordOwed();
}

void MainWindow::recordOwed()
{
    if (clicksMade > 0)
        outbox->record(syncId, clicksMade);
}

void MainWindow::sendInherited()
{
    const ClickOutbox::Entry entry = inherited.first();
    syncing = true;
    QPointer<MainWindow> self(this);
    const std::shared_ptr<ClickOutbox> box = outbox;
    apiClient->sendClicks(
        int(qMin<qint64>(entry.owed(), INT_MAX)), entry.syncId, entry.total,
        [self, box, entry](bool success, const QJsonObject &data, const QString &) {
            if (success)
                box->confirm(entry.syncId, entry.total);
            if (!self)
                return;
            self->syncing = false;
            if (!success) {
                self->showToast("网络离线: 点击将在恢复后同步");
                return;
            }
            self->inherited.removeIf(
                [&entry](const ClickOutbox::Entry &e) { return e.syncId == entry.syncId; });
            self->unconfirmedClicks = int(qMax<qint64>(0, self->unconfirmedClicks - entry.owed()));
            self->authManager->updateClicksAndGold(data.value("total_clicks").toInt(0),
                                                   data.value("gold").toInt(0));
            self->updateStatsDisplay();
            if (self->unconfirmedClicks == 0)
                self->showToast("已同步到服务器");
            self->forceSync();
        },
        this);
}

void MainWindow::flushPendingClicks()
{
    if (pendingClicks <= 0)
        return;
    const int count = pendingClicks;
    pendingClicks = 0;
    sendBatch(count, false);
}

void MainWindow::sendBatch(int count, bool tracked)
{
    QPointer<MainWindow> self(this);
    const std::shared_ptr<ClickOutbox> box = outbox;
    const QString id = syncId;
    const qint64 total = clicksMade;
    // Every batch takes all pending clicks, so after it every click made has been sent once.
    apiClient->sendClicks(
        count, syncId, clicksMade,
        [self, box, id, total, count, tracked](bool success, const QJsonObject &data,
                                               const QString &) {
            if (success)
                box->confirm(id, total);
            if (!self) {
                if (!success)
                    box->record(id, total);
                return;
            }
            if (tracked)
                self->syncing = false;
            if (success) {
                const qint64 total = data.value("total_clicks").toInteger(0);
                const qint64 gold = data.value("gold").toInteger(0);
                self->unconfirmedClicks = qMax(0, self->unconfirmedClicks - count);
                self->authManager->updateClicksAndGold(total, gold);
                self->updateStatsDisplay();
                if (self->unconfirmedClicks == 0)
                    self->showToast("已同步到服务器");
            } else {
                self->pendingClicks += count;
                self->showToast("网络离线: 点击将在恢复后同步");
                self->recordOwed();
            }
        },
        this);
}

void MainWindow::loadUserStats()
{
    QPointer<MainWindow> self(this);
    apiClient->fetchStats([self](bool success, const QJsonObject &data, const QString &error) {
        if (self)
            self->onFetchStatsDone(success, data, error);
    });
}

void MainWindow::onFetchStatsDone(bool success, const QJsonObject &data, const QString &error)
{
    if (!success) {
        const bool expired =
            error.contains("401") || error.contains("Token") || error.contains("登录");
        if (!expired) {
            showToast("加载用户数据失败: " + error);
            return;
        }
        showToast("登录已过期，请重新登录");
        authManager->logout();
        recordOwed();
        QPointer<MainWindow> self(this);
        QTimer::singleShot(200, Qt::PreciseTimer, this, [self]() {
            if (self && self->isVisible())
                self->close();
        });
        return;
    }

    const qint64 total = data.value("total_clicks").toInteger(0);
    const qint64 gold = data.value("gold").toInteger(0);
    QString balance = QStringLiteral("0");
    if (data.contains("balance"))
        balance = balanceText(data.value("balance").toDouble(0));
    else if (data.contains("bank_balance"))
        balance = balanceText(data.value("bank_balance").toDouble(0));
    authManager->updateStats(total, gold, balance);
    const QString name = data.value("username").toString();
    if (!name.isEmpty())
        authManager->setUsername(name);
    statsLoaded = true;

    if (data.contains("effects")) {
        // One settings write for the whole list: a reply may list thousands of entries.
        const QJsonArray effects = data.value("effects").toArray();
        QList<int> owned;
        for (const QJsonValue &effect : effects) {
            const int id =
                EffectManager::effectIdForClass(effect.toObject().value("css_class").toString());
            if (id != 0 && !owned.contains(id))
                owned.append(id);
        }
        effectManager->enableEffects(owned);
    }
    updateStatsDisplay();
}

// ---- Exchange and deposit -------------------------------------------------------------------

// What the player is told while choosing how many clicks to spend, and how the gain is figured.
struct MainWindow::SpendQuestion
{
    const char *title;
    const char *noneText;
    const char *tooFewText; // fewer than `step` clicks
    const char *prompt;     // %1: the clicks available
    int step;               // also the smallest amount
    int suggested;
    const char *confirmTitle;
    const char *confirmText; // %1: the amount, %2: its gain
    qint64 gainTimes;        // gain = amount * gainTimes / gainPer
    qint64 gainPer;
    const char *failTitle;
};

void MainWindow::onExchangeGold()
{
    static const SpendQuestion exchange{
        "兑换金币",
        "您没有可兑换的点击数!",
        "兑换最少需要 100 点击",
        "您当前有 %1 点击数\n100 点击 = 1 金币\n\n请输入要兑换的点击数:",
        100,
        100,
        "确认兑换",
        "将用 %1 点击数兑换 %2 金币\n是否确定?",
        1,
        100,
        "兑换失败"};
    spendClicks(exchange, &ApiClient::exchangeGold,
                [](MainWindow *self, const QJsonObject &data, int amount) {
                    const qint64 newGold = data.value("new_gold").toInteger(0);
                    const qint64 remaining = data.value("remaining_clicks").toInteger(0);
                    // "+N" is what this exchange gained: other replies may have brought the new
                    // gold already, so it cannot be read off the figures shown now.
                    const QJsonValue reported = data.value("gold_gained");
                    const qint64 gained =
                        reported.isDouble() ? reported.toInteger(amount / 100) : amount / 100;
                    self->authManager->updateClicksAndGold(remaining, newGold);
                    return QStringLiteral("兑换成功: +%1 金币").arg(gained);
                });
}

void MainWindow::onDepositToBank()
{
    static const SpendQuestion deposit{
        "存入银行", "您没有点击数可存入!\n请先点击获取点击数。",
        "",         "您当前有 %1 点击数\n1 点击 = 10 元\n\n请输入要存入的点击数:",
        1,          10,
        "确认存入", "将 %1 点击数存入 CoinVale\n获得 %2 元存款\n是否确定?",
        10,         1,
        "存入失败"};
    spendClicks(deposit, &ApiClient::depositToBank,
                [](MainWindow *self, const QJsonObject &data, int) {
                    const QString balance = balanceText(data.value("new_bank_balance").toDouble(0));
                    const qint64 remaining = data.value("remaining_clicks").toInteger(0);
                    const qint64 yuan = data.value("yuan_converted").toInteger(0);
                    self->authManager->updateStats(remaining, self->authManager->gold(), balance);
                    self->statsLoaded = true;
                    return QStringLiteral("存入成功: +%1 元").arg(yuan);
                });
}

void MainWindow::spendClicks(const SpendQuestion &question, SpendRequest send, SpendApplied applied)
{
    // What is still pending counts: it goes to the server first.
    forceSync();
    const qint64 available = authManager->clicks();
    if (available < 1) {
        QMessageBox::warning(this, question.title, question.noneText, QMessageBox::Ok);
        return;
    }
    // The input dialog cannot offer less than its minimum; don't let it ask for clicks we don't
    // have.
    if (available < question.step) {
        QMessageBox::warning(this, question.title, question.tooFewText, QMessageBox::Ok);
        return;
    }

    bool ok = false;
    const int amount =
        QInputDialog::getInt(this, question.title, QString(question.prompt).arg(available),
                             int(qMin<qint64>(available, question.suggested)), question.step,
                             inputLimit(available), question.step, &ok);
    if (!ok)
        return;
    const qint64 gain = qint64(amount) * question.gainTimes / question.gainPer;
    const auto answer = QMessageBox::question(this, question.confirmTitle,
                                              QString(question.confirmText).arg(amount).arg(gain),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    QPointer<MainWindow> self(this);
    const QString failTitle = question.failTitle;
    (apiClient->*send)(amount, [self, failTitle, applied, amount](
                                   bool success, const QJsonObject &data, const QString &error) {
        if (!self)
            return;
        if (!success) {
            // Applied or not, nobody knows: show the server's figures.
            if (ApiClient::isNoReplyError(error))
                self->loadUserStats();
            warnPlain(self, failTitle, error);
            return;
        }
        const QString gained = applied(self, data, amount);
        self->updateStatsDisplay();
        self->showToast(gained);
        self->loadUserStats();
    });
}

// ---- Theme, settings, dialogs, logout -------------------------------------------------------

void MainWindow::applyTheme()
{
    const bool dark =
        QSettings().value(SettingsKeys::themeDark, SettingsKeys::defaultThemeDark).toBool();
    Application::applyStyleSheet(qApp, dark);
    themeButton->setText(dark ? "浅色主题" : "深色主题");
    // An explicit minimum size overrides the layout's: keep the window wide enough for every
    // function button's whole label in this theme's font.
    setMinimumSize(QSize(640, 480).expandedTo(QSize(centralWidget()->sizeHint().width(), 0)));
    showToast(QStringLiteral("已切换到%1主题").arg(dark ? "深色" : "浅色"));
}

void MainWindow::applyButtonSettings()
{
    QSettings settings;
    const int width =
        settings.value(SettingsKeys::buttonWidth, SettingsKeys::defaultButtonWidth).toInt();
    const int height =
        settings.value(SettingsKeys::buttonHeight, SettingsKeys::defaultButtonHeight).toInt();
    const int radius =
        settings.value(SettingsKeys::buttonBorderRadius, SettingsKeys::defaultButtonBorderRadius)
            .toInt();
    const int borderWidth =
        settings.value(SettingsKeys::buttonBorderWidth, SettingsKeys::defaultButtonBorderWidth)
            .toInt();
    const QColor color = QColor::fromString(
        settings.value(SettingsKeys::buttonColor, SettingsKeys::defaultButtonColor).toString());
    const QColor borderColor = QColor::fromString(
        settings.value(SettingsKeys::buttonBorderColor, SettingsKeys::defaultButtonBorderColor)
            .toString());
    clickButton->setButtonSize(width, height);
    clickButton->setBorderRadius(radius);
    clickButton->setButtonColor(color);
    clickButton->setBorderWidth(borderWidth);
    clickButton->setBorderColor(borderColor);
}

void MainWindow::onToggleTheme()
{
    QSettings settings;
    settings.setValue(
        SettingsKeys::themeDark,
        !settings.value(SettingsKeys::themeDark, SettingsKeys::defaultThemeDark).toBool());
    settings.sync();
    applyTheme();
}

void MainWindow::onThemeSettingsChanged()
{
    applyButtonSettings();
    applyTheme();
    showToast("设置已更新");
}

void MainWindow::onOpenShop()
{
    auto *dialog = new ShopDialog(authManager, apiClient, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->exec();
    loadUserStats();
}

void MainWindow::onOpenRanking()
{
    auto *dialog = new RankingDialog(apiClient, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->exec();
}

void MainWindow::onOpenSettings()
{
    auto *dialog = new SettingsDialog(authManager, effectManager, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &SettingsDialog::settingsChanged, this, &MainWindow::onThemeSettingsChanged);
    dialog->exec();
}

void MainWindow::onLogout()
{
    const auto answer = QMessageBox::question(this, "退出登录", "确定要退出登录吗?",
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // The last batch must carry the token, so it leaves before the session is cleared.
    flushPendingClicks();
    authManager->logout();
    close();
}
