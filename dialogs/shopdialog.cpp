#include "shopdialog.h"

#include "announcedfigure.h"
#include "itemcolourdelegate.h"

#include "feedback/effectmanager.h"
#include "net/apiclient.h"
#include "net/authmanager.h"

#include <QBrush>
#include <QColor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>

ShopDialog::ShopDialog(AuthManager *auth, ApiClient *api, QWidget *parent)
    : QDialog(parent), authManager(auth), apiClient(api)
{
    setWindowTitle(tr("特效商店"));
    setMinimumSize(420, 480);
    setupUi();
    loadEffects();
    connect(apiClient, &ApiClient::networkError, this, &ShopDialog::onNetworkError);
}

void ShopDialog::setupUi()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);

    auto *header = new QHBoxLayout;
    auto *title = new QLabel(tr("特效商店"), this);
    title->setObjectName(QStringLiteral("titleLabel"));
    // The colours of the title, gold and status come from the theme's sheet.
    title->setStyleSheet(QStringLiteral("font-size: 18px; font-weight: bold;"));
    header->addWidget(title);
    header->addStretch();
    goldAmountLabel = new QLabel(this);
    goldAmountLabel->setObjectName(QStringLiteral("goldAmountLabel"));
    goldAmountLabel->setStyleSheet(QStringLiteral("font-size: 16px; font-weight: bold;"));
    header->addWidget(goldAmountLabel);
    layout->addLayout(header);
    updateGoldLabel();

    effectList = new QListWidget(this);
    effectList->setObjectName(QStringLiteral("effectList"));
    effectList->setAccessibleName(tr("特效列表"));
    // Owned effects show green although the sheets colour every item.
    effectList->setItemDelegate(new ItemColourDelegate(effectList));
    layout->addWidget(effectList, 1);
    connect(effectList, &QListWidget::itemClicked, this, &ShopDialog::onItemClicked);
    effectList->installEventFilter(this);

    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setAlignment(Qt::AlignCenter);
    statusLabel->setStyleSheet(QStringLiteral("font-size: 13px;"));
    // Shows texts from the server: never let them be taken for markup.
    statusLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(statusLabel);

    closeButton = new QPushButton(tr("关闭"), this);
    closeButton->setObjectName(QStringLiteral("secondaryButton"));
    // Return belongs to the list; only pressing "关闭" itself closes.
    closeButton->setAutoDefault(false);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(closeButton);

    purchaseMessageTimer = new QTimer(this);
    purchaseMessageTimer->setObjectName(QStringLiteral("purchaseMessageTimer"));
    purchaseMessageTimer->setSingleShot(true);
    // A coarse timer may fire up to 5% early; the message must stay the full time.
    purchaseMessageTimer->setTimerType(Qt::PreciseTimer);
    purchaseMessageTimer->setInterval(purchaseMessageMs);
    connect(purchaseMessageTimer, &QTimer::timeout, this, [this]() { showStatus(countText); });
}

void ShopDialog::showStatus(const QString &text)
{
    holdingPurchaseMessage = false;
    purchaseMessageTimer->stop();
    statusLabel->setText(text);
}

void ShopDialog::selectEffect(int effectId)
{
    for (int row = 0; row < effectList->count(); ++row) {
        if (effectList->item(row)->data(EffectIdRole).toInt() == effectId) {
            effectList->setCurrentRow(row);
            effectList->scrollToItem(effectList->item(row));
            return;
        }
    }
}

void ShopDialog::updateGoldLabel()
{
    AnnouncedFigure::show(goldAmountLabel, QString(), tr("金币: %1").arg(authManager->gold()));
}

void ShopDialog::loadEffects()
{
    if (!holdingPurchaseMessage)
        showStatus(tr("加载特效列表中..."));
    QPointer<ShopDialog> self(this);
    apiClient->fetchEffects(
        [self](bool success, const QJsonArray &effects, const QString &error) {
            if (self)
                self->onFetchEffectsDone(success, effects, error);
        },
        this);
}

void ShopDialog::onItemClicked(QListWidgetItem *item)
{
    if (!item)
        return;
    const int effectId = item->data(EffectIdRole).toInt();
    const bool owned = item->data(OwnedRole).toBool();

    if (owned) {
        QMessageBox::information(this, tr("提示"), tr("您已经拥有此特效!"), QMessageBox::Ok);
        return;
    }
    // The price is the server's business; it refuses a purchase the gold cannot pay for.
    if (authManager->gold() > 0) {
        showStatus(tr("购买中..."));
        buyingEffectId = effectId;
        QPointer<ShopDialog> self(this);
        apiClient->buyEffect(
            effectId,
            [self](bool success, const QJsonObject &data, const QString &error) {
                if (self)
                    self->onBuyEffect(success, data, error);
            },
            this);
        return;
    }
    QMessageBox::warning(this, tr("金币不足"), tr("您的金币不足，请先兑换金币!"), QMessageBox::Ok);
}

bool ShopDialog::eventFilter(QObject *watched, QEvent *event)
{
    // Return or Enter on the selected item buys it as a click does. Taken here rather than from
    // itemActivated, which a double click (or a single click on some desktops) emits as well,
    // on top of the clicks.
    if (watched == effectList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && effectList->currentItem()) {
            onItemClicked(effectList->currentItem());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ShopDialog::onBuyEffect(bool success, const QJsonObject &data, const QString &error)
{
    if (success) {
        const qint64 newGold = data.value(QStringLiteral("new_gold")).toInteger(0);
        const QString effectName = data.value(QStringLiteral("effect_name")).toString();
        authManager->updateStats(authManager->clicks(), newGold, authManager->balance());
        updateGoldLabel();
        showStatus(tr("购买成功: %1").arg(effectName));
        holdingPurchaseMessage = true;
        loadEffects();
        return;
    }
    showStatus(tr("购买失败: %1").arg(error));
    QMessageBox box(QMessageBox::Warning, tr("购买失败"), error, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void ShopDialog::onFetchEffectsDone(bool success, const QJsonArray &effects, const QString &error)
{
    if (!success) {
        showStatus(tr("加载失败: %1").arg(error));
        return;
    }

    // The selection survives the reload: on the item just bought, else where the player left it.
    const int selectedId = holdingPurchaseMessage ? buyingEffectId
                           : effectList->currentItem()
                               ? effectList->currentItem()->data(EffectIdRole).toInt()
                               : 0;
    effectList->clear();
    QSet<QString> seenClasses;
    int count = 0;
    for (const QJsonValue &value : effects) {
        const QJsonObject effect = value.toObject();
        const QString cssClass = effect.value(QStringLiteral("css_class")).toString();
        const int effectId = effect.value(QStringLiteral("id")).toInt(0);
        // The first entry of a style class wins; the player sees each effect once.
        if (seenClasses.contains(cssClass))
            continue;
        seenClasses.insert(cssClass);

        QString name = effect.value(QStringLiteral("name")).toString();
        // The catalogue's own name is shown in the interface's language, as in the settings;
        // a name the server changed is shown as it comes.
        if (name == EffectManager::effectInfo(effectId).name)
            name = EffectManager::effectName(effectId);
        const int price = effect.value(QStringLiteral("price")).toInt(0);
        // Only a real JSON boolean counts.
        const bool owned = effect.value(QStringLiteral("owned")).toBool(false);

        const QString text =
            tr("%1 - %2 金币 %3")
                .arg(name, QString::number(price), owned ? tr("(已拥有)") : tr("(点击购买)"));
        auto *item = new QListWidgetItem(text);
        item->setData(EffectIdRole, effectId);
        item->setData(OwnedRole, owned);
        item->setData(CssClassRole, cssClass);
        item->setData(Qt::AccessibleDescriptionRole,
                      owned ? tr("价格 %1 金币，已拥有").arg(price)
                            : tr("价格 %1 金币，未拥有，按下购买").arg(price));
        if (owned)
            item->setForeground(QBrush(QColor(QStringLiteral("#2ea043"))));
        effectList->addItem(item);
        ++count;
    }
    if (selectedId != 0)
        selectEffect(selectedId);
    countText = tr("共 %n 个特效", nullptr, count);
    if (holdingPurchaseMessage)
        purchaseMessageTimer->start();
    else
        showStatus(countText);
}

void ShopDialog::onNetworkError(const QString &errorMessage)
{
    showStatus(tr("网络错误: %1").arg(errorMessage));
}
