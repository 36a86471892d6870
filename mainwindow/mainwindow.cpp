#include "mainwindow.h"

#include "dialogs/announcedfigure.h"
#include "dialogs/elidedtext.h"
#include "dialogs/rankingdialog.h"
#include "dialogs/settingsdialog.h"
#include "dialogs/shopdialog.h"
#include "feedback/clickbutton.h"
#include "feedback/clicksound.h"
#include "feedback/effectmanager.h"
#include "net/appsettings.h"
#include "net/authmanager.h"
#include "net/clickoutbox.h"
#include "net/displaytext.h"
#include "resources/theme.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <limits>

namespace {

// Wide enough for any real name; a longer one is cut, with the whole name as the tool tip.
constexpr int kNameWidth = 240;

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

QLabel *addCaption(QGridLayout *grid, const QString &text, int row, int column)
{
    auto *label = new QLabel(text);
    // Colour and weight come from the theme's sheet, readable on either background.
    label->setObjectName("captionLabel");
    grid->addWidget(label, row, column);
    return label;
}

QLabel *addValue(QGridLayout *grid, const QString &text, const QString &objectName, int row,
                 int column)
{
    auto *label = new QLabel(text);
    label->setObjectName(objectName);
    // The colour is the theme's: an inline one would win over the light sheet's readable shade.
    label->setStyleSheet(QStringLiteral("font-size: 15px; font-weight: bold;"));
    grid->addWidget(label, row, column);
    return label;
}

} // namespace

MainWindow::MainWindow(AuthManager *authManager, ApiClient *apiClient, QWidget *parent)
    : MainWindow(authManager, apiClient, Timing(), parent)
{
}

MainWindow::MainWindow(AuthManager *authManager, ApiClient *apiClient, const Timing &timing,
                       QWidget *parent)
    : QMainWindow(parent), authManager(authManager), apiClient(apiClient), timing(timing)
{
    setWindowTitle(tr("TapTempest - 点击游戏"));
    resize(800, 600);
    setMinimumSize(640, 480);

    gameSession = new GameSession(authManager, apiClient, timing.session, this);
    effectManager = new EffectManager(this);
    ownership = std::make_unique<EffectOwnership>(effectManager);
    setupUi();
    restoreSavedGeometry();
    if (gameSession->unconfirmedClickCount() > 0)
        showClicks(gameSession->shownClicks());

    toastTimer = new QTimer(this);
    toastTimer->setSingleShot(true);
    connect(toastTimer, &QTimer::timeout, this, [this]() {
        if (toastLabel)
            toastLabel->hide();
    });

    connect(gameSession, &GameSession::figuresChanged, this, &MainWindow::updateStatsDisplay);
    connect(gameSession, &GameSession::clicksChanged, this, &MainWindow::showClicks);
    connect(gameSession, &GameSession::message, this, &MainWindow::showToast);
    connect(gameSession, &GameSession::effectsOwned, this, &MainWindow::onEffectsOwned);
    connect(gameSession, &GameSession::spendFailed, this, &MainWindow::onSpendFailed);
    connect(gameSession, &GameSession::sessionExpired, this, &MainWindow::onSessionExpired);

    applyButtonSettings();
    applyTheme(false);
    connect(apiClient, &ApiClient::networkError, this, &MainWindow::onNetworkError);
}

void MainWindow::setupUi()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);
    auto *mainLayout = new QVBoxLayout(central);
    mainLayout->setContentsMargins(16, 16, 16, 8);
    mainLayout->setSpacing(12);

    auto *infoGroup = new QGroupBox(tr("用户信息"), central);
    auto *grid = new QGridLayout(infoGroup);
    grid->setSpacing(16);
    grid->setContentsMargins(16, 12, 16, 12);
    addCaption(grid, tr("用户:"), 0, 0);
    usernameLabel = addValue(grid, QString(), "usernameLabel", 0, 1);
    showUsername(authManager->username());
    addCaption(grid, tr("总点击:"), 0, 2)
        ->setToolTip(tr("可以兑换金币或存入银行的点击数；已花掉的点击不再计入"));
    clicksLabel = addValue(grid, "0", "clicksLabel", 0, 3);
    addCaption(grid, tr("金币:"), 1, 0);
    goldLabel = addValue(grid, "0", "goldLabel", 1, 1);
    addCaption(grid, tr("银行余额:"), 1, 2);
    bankLabel = addValue(grid, tr("0 元"), "bankLabel", 1, 3);
    AnnouncedFigure::show(clicksLabel, tr("总点击:"), clicksLabel->text());
    AnnouncedFigure::show(goldLabel, tr("金币:"), goldLabel->text());
    AnnouncedFigure::show(bankLabel, tr("银行余额:"), bankLabel->text());
    mainLayout->addWidget(infoGroup, 0);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    clickButton = new ClickButton(this);
    clickButton->setObjectName("clickButton");
    clickButton->setText("CLICK ME!");
    clickButton->setAccessibleName(tr("点击"));
    clickButton->setAccessibleDescription(tr("每按一次得 1 次点击，并播放已开启的特效"));
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
    exchangeButton = addButton(tr("兑换金币"), "funcButton", &MainWindow::onExchangeGold);
    depositButton = addButton(tr("存入银行"), "funcButton", &MainWindow::onDepositToBank);
    shopButton = addButton(tr("特效商店"), "funcButton", &MainWindow::onOpenShop);
    rankingButton = addButton(tr("排行榜"), "funcButton", &MainWindow::onOpenRanking);
    settingsButton = addButton(tr("设置"), "funcButton", &MainWindow::onOpenSettings);
    themeButton = addButton(tr("切换主题"), "funcButton", &MainWindow::onToggleTheme);
    logoutButton = addButton(tr("退出登录"), "dangerButton", &MainWindow::onLogout);
    mainLayout->addLayout(functionRow, 0);

    auto *quitAction = new QAction(this);
    // Ctrl+Q also where the platform names no standard quit key (the Windows scheme has none).
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (!quitKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Q)))
        quitKeys.append(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setShortcuts(quitKeys);
    connect(quitAction, &QAction::triggered, this, &QWidget::close);
    addAction(quitAction);

    // The status bar's look comes from the theme's sheet, in both themes.
    statusBar()->setObjectName("statusBar");
    toastLabel = new QLabel(this);
    toastLabel->setObjectName("toastLabel");
    toastLabel->setAlignment(Qt::AlignCenter);
    toastLabel->setTextFormat(Qt::PlainText);
    toastLabel->hide();
    statusBar()->addPermanentWidget(toastLabel, 1);
}

void MainWindow::updateStatsDisplay()
{
    showUsername(gameSession->username());
    showClicks(gameSession->shownClicks());
    AnnouncedFigure::show(goldLabel, tr("金币:"), QString::number(gameSession->gold()));
    AnnouncedFigure::show(bankLabel, tr("银行余额:"), tr("%1 元").arg(gameSession->balance()));
}

void MainWindow::showUsername(const QString &name)
{
    const QString clean = DisplayText::clean(name);
    ElidedText::show(usernameLabel, clean, kNameWidth);
    AnnouncedFigure::show(usernameLabel, tr("用户:"), clean, usernameLabel->text());
}

void MainWindow::showClicks(qint64 shown)
{
    AnnouncedFigure::show(clicksLabel, tr("总点击:"), QString::number(shown));
}

void MainWindow::showToast(const QString &text)
{
    if (toastLabel) {
        toastLabel->setText(text);
        toastLabel->show();
    }
    toastTimer->start(timing.toastMs);
}

void MainWindow::onNetworkError(const QString &errorMessage)
{
    showToast(tr("网络错误: %1").arg(errorMessage));
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (gameSession->isStatsLoaded())
        return;
    QPointer<MainWindow> self(this);
    QTimer::singleShot(timing.firstStatsMs, Qt::PreciseTimer, this, [self]() {
        if (self && self->isVisible())
            self->gameSession->start();
    });
}

void MainWindow::restoreSavedGeometry()
{
    const QByteArray saved = AppSettings::mainWindowGeometry();
    if (saved.isEmpty() || !restoreGeometry(saved))
        return;
    // A screen that was there last time may be gone; a window on none cannot be reached.
    const QRect frame = frameGeometry();
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(frame))
            return;
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return;
    const QRect available = primary->availableGeometry();
    resize(size().boundedTo(available.size()));
    move(available.center() - QPoint(width() / 2, height() / 2));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    AppSettings::setMainWindowGeometry(saveGeometry());
    gameSession->finish();
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::onButtonClicked()
{
    // The visual-effects switch is also the reduce-motion switch: off, nothing plays and the
    // window does not shake; the button's own press and "+1" stay. An effect the account does
    // not own does not play, whatever its stored switch says.
    if (effectManager && AppSettings::effectsEnabled()) {
        const QPoint centre = clickButton->mapToGlobal(clickButton->rect().center());
        for (int id = 1; id <= EffectManager::effectCount(); ++id) {
            if (effectManager->isEffectEnabled(id) && ownership->owns(id))
                effectManager->playEffect(id, centre);
        }
    }
    if (AppSettings::soundEnabled()) {
        if (!clickSound)
            clickSound = new ClickSound(this);
        clickSound->play();
    }
    gameSession->click();
}

void MainWindow::onEffectsOwned(const QStringList &cssClasses)
{
    // Duplicates folded first: a reply may list thousands of entries.
    QList<int> owned;
    for (const QString &cssClass : cssClasses) {
        const int id = EffectManager::effectIdForClass(cssClass);
        if (id != 0 && !owned.contains(id))
            owned.append(id);
    }
    ownership->setOwned(ClickOutbox::accountKey(authManager->userId(), authManager->username()),
                        owned);
}

void MainWindow::onSessionExpired()
{
    QPointer<MainWindow> self(this);
    QTimer::singleShot(timing.expiredCloseMs, Qt::PreciseTimer, this, [self]() {
        if (self && self->isVisible())
            self->close();
    });
}

// ---- Exchange and deposit -------------------------------------------------------------------

// What the player is told while choosing how many clicks to spend, and how the gain is figured.
struct MainWindow::SpendQuestion
{
    GameSession::Spend spend;
    const char *title;
    const char *noneText;
    const char *tooFewText; // fewer than `step` clicks
    const char *prompt;     // %1: the clicks available; counted by them
    int step;               // also the smallest amount
    int suggested;
    const char *confirmTitle;
    const char *confirmText; // %n: the amount, %1: its gain
    qint64 gainTimes;        // gain = amount * gainTimes / gainPer
    qint64 gainPer;
};

void MainWindow::onExchangeGold()
{
    static const SpendQuestion exchange{
        GameSession::Spend::Exchange,
        QT_TR_NOOP("兑换金币"),
        QT_TR_NOOP("您没有可兑换的点击数!"),
        QT_TR_NOOP("兑换最少需要 100 点击"),
        QT_TR_N_NOOP("您当前有 %1 点击数\n100 点击 = 1 金币\n\n请输入要兑换的点击数:"),
        100,
        100,
        QT_TR_NOOP("确认兑换"),
        QT_TR_N_NOOP("将用 %n 点击数兑换 %1 金币\n是否确定?"),
        1,
        100};
    spendClicks(exchange);
}

void MainWindow::onDepositToBank()
{
    static const SpendQuestion deposit{
        GameSession::Spend::Deposit,
        QT_TR_NOOP("存入银行"),
        QT_TR_NOOP("您没有点击数可存入!\n请先点击获取点击数。"),
        "",
        QT_TR_N_NOOP("您当前有 %1 点击数\n1 点击 = 10 元\n\n请输入要存入的点击数:"),
        1,
        10,
        QT_TR_NOOP("确认存入"),
        QT_TR_N_NOOP("将 %n 点击数存入 CoinVale\n获得 %1 元存款\n是否确定?"),
        10,
        1};
    spendClicks(deposit);
}

void MainWindow::spendClicks(const SpendQuestion &question)
{
    // What is still pending counts: it goes to the server first.
    gameSession->forceSync();
    const qint64 available = gameSession->availableClicks();
    if (available < 1) {
        QMessageBox::warning(this, tr(question.title), tr(question.noneText), QMessageBox::Ok);
        return;
    }
    // The input dialog cannot offer less than its minimum; don't let it ask for clicks we don't
    // have.
    if (available < question.step) {
        QMessageBox::warning(this, tr(question.title), tr(question.tooFewText), QMessageBox::Ok);
        return;
    }

    bool ok = false;
    const int amount =
        // Past 2^31 clicks %n cannot hold the figure; the count only picks the plural form.
        QInputDialog::getInt(this, tr(question.title),
                             tr(question.prompt, nullptr, inputLimit(available)).arg(available),
                             int(qMin<qint64>(available, question.suggested)), question.step,
                             inputLimit(available), question.step, &ok);
    if (!ok)
        return;
    const qint64 gain = qint64(amount) * question.gainTimes / question.gainPer;
    const auto answer = QMessageBox::question(this, tr(question.confirmTitle),
                                              tr(question.confirmText, nullptr, amount).arg(gain),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (question.spend == GameSession::Spend::Exchange)
        gameSession->exchangeGold(amount);
    else
        gameSession->depositToBank(amount);
}

void MainWindow::onSpendFailed(GameSession::Spend spend, const QString &error)
{
    warnPlain(this, spend == GameSession::Spend::Exchange ? tr("兑换失败") : tr("存入失败"), error);
}

// ---- Theme, settings, dialogs, logout -------------------------------------------------------

void MainWindow::applyTheme(bool announce)
{
    const bool dark = AppSettings::themeDark();
    Theme::apply(qApp, dark);
    themeButton->setText(dark ? tr("浅色主题") : tr("深色主题"));
    // An explicit minimum size overrides the layout's: keep the window wide enough for every
    // function button's whole label in this theme's font.
    setMinimumSize(QSize(640, 480).expandedTo(QSize(centralWidget()->sizeHint().width(), 0)));
    if (announce)
        showToast(dark ? tr("已切换到深色主题") : tr("已切换到浅色主题"));
}

void MainWindow::applyButtonSettings()
{
    const ButtonLook look = AppSettings::buttonLook();
    clickButton->setButtonSize(look.width, look.height);
    clickButton->setBorderRadius(look.borderRadius);
    clickButton->setButtonColor(QColor::fromString(look.color));
    clickButton->setBorderWidth(look.borderWidth);
    clickButton->setBorderColor(QColor::fromString(look.borderColor));
}

void MainWindow::onToggleTheme()
{
    AppSettings::setThemeDark(!AppSettings::themeDark());
    applyTheme(true);
}

void MainWindow::onThemeSettingsChanged()
{
    applyButtonSettings();
    applyTheme(false);
    showToast(tr("设置已更新"));
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
    auto *dialog = new SettingsDialog(authManager, effectManager, ownership.get(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &SettingsDialog::settingsChanged, this, &MainWindow::onThemeSettingsChanged);
    dialog->exec();
}

void MainWindow::onLogout()
{
    const auto answer = QMessageBox::question(this, tr("退出登录"), tr("确定要退出登录吗?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    gameSession->logout();
    close();
}
