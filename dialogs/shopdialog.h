#pragma once

#include <QDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class ApiClient;
class AuthManager;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTimer;

// Lists the effects the server offers and buys the one the player clicks.
class ShopDialog : public QDialog
{
    Q_OBJECT

public:
    // Item data roles of the effect list.
    static constexpr int EffectIdRole = Qt::UserRole;
    static constexpr int OwnedRole = Qt::UserRole + 1;
    static constexpr int CssClassRole = Qt::UserRole + 2;
    // How long "购买成功: ..." stays after the list has reloaded, so that it can be read.
    static constexpr int purchaseMessageMs = 3000;

    ShopDialog(AuthManager *auth, ApiClient *api, QWidget *parent = nullptr);

    void loadEffects();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onItemClicked(QListWidgetItem *item);
    void onBuyEffect(bool success, const QJsonObject &data, const QString &error);
    void onFetchEffectsDone(bool success, const QJsonArray &effects, const QString &error);
    void onNetworkError(const QString &errorMessage);

private:
    void setupUi();
    void updateGoldLabel();
    // Any new status text ends the hold on a purchase message.
    void showStatus(const QString &text);
    void selectEffect(int effectId);

    AuthManager *authManager;
    ApiClient *apiClient;
    QListWidget *effectList = nullptr;
    QLabel *goldAmountLabel = nullptr;
    QLabel *statusLabel = nullptr;
    QPushButton *closeButton = nullptr;
    // Keeps "购买成功: ..." up while the list reloads and for a while after it.
    QTimer *purchaseMessageTimer = nullptr;
    bool holdingPurchaseMessage = false;
    QString countText;
    int buyingEffectId = 0;
};
