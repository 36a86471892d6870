#pragma once

#include "feedback/effectownership.h"
#include "game/gamesession.h"

#include <memory>

#include <QMainWindow>

class AuthManager;
class ApiClient;
class ClickButton;
class ClickSound;
class EffectManager;
class QLabel;
class QPushButton;
class QTimer;

// The game's main window: shows what its GameSession reports (the player's figures, messages as
// a toast in the status bar) and forwards the player's actions to it. Owns the click button,
// the effects, the function buttons and the dialogs they open.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    struct Timing
    {
        GameSession::Intervals session;
        int toastMs = 3000;       // a toast stays this long
        int firstStatsMs = 100;   // after the first show, the statistics load
        int expiredCloseMs = 200; // after the session expired, the window closes
    };

    MainWindow(AuthManager *authManager, ApiClient *apiClient, QWidget *parent = nullptr);
    MainWindow(AuthManager *authManager, ApiClient *apiClient, const Timing &timing,
               QWidget *parent = nullptr);

    GameSession *session() const { return gameSession; }
    void forceSync() { gameSession->forceSync(); }
    void loadUserStats() { gameSession->loadStats(); }
    int pendingClickCount() const { return gameSession->pendingClickCount(); }
    int unconfirmedClickCount() const { return gameSession->unconfirmedClickCount(); }
    bool isSyncing() const { return gameSession->isSyncing(); }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onButtonClicked();
    void onExchangeGold();
    void onDepositToBank();
    void onOpenShop();
    void onOpenRanking();
    void onOpenSettings();
    void onToggleTheme();
    void onLogout();
    void onNetworkError(const QString &errorMessage);
    void onThemeSettingsChanged();
    void onSessionExpired();
    void onSpendFailed(GameSession::Spend spend, const QString &error);
    void onEffectsOwned(const QStringList &cssClasses);

private:
    void setupUi();
    void updateStatsDisplay();
    void showClicks(qint64 shown);
    void showUsername(const QString &name);
    void showToast(const QString &text);
    // `announce`: the player switched, so the toast names the theme.
    void applyTheme(bool announce);
    void applyButtonSettings();
    // Puts the saved size and place back, moved onto a screen if it is on none.
    void restoreSavedGeometry();

    // Exchange and deposit: syncs, asks for an amount and its confirmation, then hands it to
    // the session.
    struct SpendQuestion;
    void spendClicks(const SpendQuestion &question);

    AuthManager *authManager;
    ApiClient *apiClient;
    Timing timing;
    GameSession *gameSession = nullptr;
    EffectManager *effectManager = nullptr;
    std::unique_ptr<EffectOwnership> ownership;
    // Made at the first click with the sound on.
    ClickSound *clickSound = nullptr;
    ClickButton *clickButton = nullptr;
    QLabel *usernameLabel = nullptr;
    QLabel *clicksLabel = nullptr;
    QLabel *goldLabel = nullptr;
    QLabel *bankLabel = nullptr;
    QPushButton *exchangeButton = nullptr;
    QPushButton *depositButton = nullptr;
    QPushButton *shopButton = nullptr;
    QPushButton *rankingButton = nullptr;
    QPushButton *settingsButton = nullptr;
    QPushButton *themeButton = nullptr;
    QPushButton *logoutButton = nullptr;
    QTimer *toastTimer = nullptr;
    QLabel *toastLabel = nullptr;
};
