#pragma once

#include "net/apiclient.h"
#include "net/clickoutbox.h"

#include <QJsonObject>
#include <QMainWindow>

#include <functional>
#include <memory>

class AuthManager;
class ApiClient;
class ClickButton;
class EffectManager;
class QLabel;
class QPushButton;
class QTimer;

// The game's main window: the player's figures, the click button, the function buttons and the
// toast in the status bar. Counts clicks at once and sends them to the server in batches.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(AuthManager *authManager, ApiClient *apiClient, QWidget *parent = nullptr);

    void forceSync();
    void loadUserStats();

    int pendingClickCount() const { return pendingClicks; }
    int unconfirmedClickCount() const { return unconfirmedClicks; }
    bool isSyncing() const { return syncing; }

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
    void onSyncTimer();
    void onFetchStatsDone(bool success, const QJsonObject &data, const QString &error);
    void onNetworkError(const QString &errorMessage);
    void onThemeSettingsChanged();

private:
    void setupUi();
    void setupSyncTimer();
    void updateStatsDisplay();
    void showToast(const QString &text);
    void applyTheme();
    void applyButtonSettings();
    // Hands `count` clicks to the server; `tracked` batches are the one the sync logic waits for.
    void sendBatch(int count, bool tracked);
    // Sends whatever is pending now, even while another batch is in flight: the window is going
    // away and nothing may be left behind.
    void flushPendingClicks();
    // Sends the oldest session an earlier window left in the outbox.
    void sendInherited();
    // Everything made and not confirmed goes to the outbox now.
    void recordOwed();

    // Exchange and deposit: syncs, asks for an amount and its confirmation, sends it and shows
    // the outcome. `applied` takes a successful reply's figures and returns the toast text.
    struct SpendQuestion;
    using SpendRequest = void (ApiClient::*)(int, ApiCallback);
    using SpendApplied = std::function<QString(MainWindow *, const QJsonObject &, int amount)>;
    void spendClicks(const SpendQuestion &question, SpendRequest send, SpendApplied applied);

    AuthManager *authManager;
    ApiClient *apiClient;
    EffectManager *effectManager = nullptr;
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
    QTimer *syncTimer = nullptr;
    int pendingClicks = 0;
    int syncThreshold = 20;
    bool syncing = false;
    bool statsLoaded = false;
    QTimer *toastTimer = nullptr;
    QLabel *toastLabel = nullptr;
    int unconfirmedClicks = 0;
    // Lets the server recognise a batch it has already credited when a reply was lost.
    QString syncId;
    qint64 clicksMade = 0;
    // Shared with the batches in flight, whose replies may come after the window is gone.
    std::shared_ptr<ClickOutbox> outbox;
    // Sessions of earlier windows still owed; they go out before this window's own batches.
    QList<ClickOutbox::Entry> inherited;
};
