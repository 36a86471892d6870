#include "rankingdialog.h"

#include "elidedtext.h"
#include "itemcolourdelegate.h"

#include "net/apiclient.h"
#include "net/displaytext.h"

#include <QAbstractItemView>
#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <limits>

namespace {

// The most rows the limit box offers; also the cap when no limit could be read.
constexpr int kMostRows = 200;
// A name column wider than this would push the clicks out of the dialog.
constexpr int kNameWidth = 260;

} // namespace

RankingDialog::RankingDialog(ApiClient *api, QWidget *parent) : QDialog(parent), apiClient(api)
{
    setWindowTitle(tr("点击排行榜"));
    setMinimumSize(420, 520);
    setupUi();
    loadRanking(100);
    connect(apiClient, &ApiClient::networkError, this, &RankingDialog::onNetworkError);
}

void RankingDialog::setupUi()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);

    auto *header = new QHBoxLayout;
    auto *title = new QLabel(tr("点击排行榜"), this);
    title->setObjectName(QStringLiteral("titleLabel"));
    // The colours of the title and status come from the theme's sheet.
    title->setStyleSheet(QStringLiteral("font-size: 18px; font-weight: bold;"));
    header->addWidget(title);
    header->addStretch();
    auto *limitLabel = new QLabel(tr("显示数量:"), this);
    header->addWidget(limitLabel);
    limitCombo = new QComboBox(this);
    limitCombo->setObjectName(QStringLiteral("limitCombo"));
    limitCombo->setAccessibleName(tr("显示数量"));
    limitLabel->setBuddy(limitCombo);
    limitCombo->addItems(
        {QStringLiteral("10"), QStringLiteral("50"), QStringLiteral("100"), QStringLiteral("200")});
    limitCombo->setCurrentText(QStringLiteral("100"));
    header->addWidget(limitCombo);
    refreshButton = new QPushButton(tr("刷新"), this);
    refreshButton->setObjectName(QStringLiteral("primaryButton"));
    connect(refreshButton, &QPushButton::clicked, this, &RankingDialog::onRefreshClicked);
    header->addWidget(refreshButton);
    layout->addLayout(header);

    rankingTable = new QTableWidget(0, 3, this);
    rankingTable->setObjectName(QStringLiteral("rankingTable"));
    rankingTable->setAccessibleName(tr("点击排行榜"));
    rankingTable->setHorizontalHeaderLabels({tr("排名"), tr("用户名"), tr("总点击数")});
    // Not the main window's 总点击, which is what is left to spend.
    rankingTable->horizontalHeaderItem(2)->setToolTip(
        tr("玩家累计点击的总数，兑换或存入银行的点击也算在内"));
    QHeaderView *horizontal = rankingTable->horizontalHeader();
    horizontal->setStretchLastSection(true);
    horizontal->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    horizontal->setSectionResizeMode(1, QHeaderView::Stretch);
    rankingTable->verticalHeader()->setVisible(false);
    rankingTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rankingTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    rankingTable->setSelectionMode(QAbstractItemView::SingleSelection);
    rankingTable->setAlternatingRowColors(true);
    // Medal colours for the first three, although the sheets colour every cell.
    rankingTable->setItemDelegate(new ItemColourDelegate(rankingTable));
    layout->addWidget(rankingTable, 1);

    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setAlignment(Qt::AlignCenter);
    statusLabel->setStyleSheet(QStringLiteral("font-size: 13px;"));
    // Error texts may quote the server: never let them be taken for markup.
    statusLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(statusLabel);

    auto *closeButton = new QPushButton(tr("关闭"), this);
    closeButton->setObjectName(QStringLiteral("secondaryButton"));
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(closeButton);
}

void RankingDialog::onRefreshClicked()
{
    bool ok = false;
    const int limit = limitCombo->currentText().toInt(&ok, 10);
    loadRanking(ok ? limit : 0);
}

void RankingDialog::loadRanking(int limit)
{
    statusLabel->setText(tr("加载排行榜中..."));
    refreshButton->setEnabled(false);
    requestedLimit = limit;
    QPointer<RankingDialog> self(this);
    apiClient->fetchRanking(
        limit,
        [self](bool success, const QJsonArray &rankings, const QString &error) {
            if (!self)
                return;
            self->refreshButton->setEnabled(true);
            self->onFetchRankingDone(success, rankings, error);
        },
        this);
}

void RankingDialog::onFetchRankingDone(bool success, const QJsonArray &rankings,
                                       const QString &error)
{
    if (!success) {
        statusLabel->setText(tr("加载失败: %1").arg(error));
        return;
    }
    // The rows asked for and no more, whatever the server sent.
    const int rows =
        int(qMin<qsizetype>(rankings.size(), requestedLimit > 0 ? requestedLimit : kMostRows));
    populateTable(rankings, rows);
    statusLabel->setText(tr("显示 %n 条记录", nullptr, rows));
}

void RankingDialog::populateTable(const QJsonArray &rankings, int rows)
{
    static const QColor medals[] = {QColor(QStringLiteral("#ffd700")),
                                    QColor(QStringLiteral("#c0c0c0")),
                                    QColor(QStringLiteral("#cd7f32"))};

    rankingTable->setRowCount(rows);
    const QFontMetrics metrics(rankingTable->font());
    for (int row = 0; row < rows; ++row) {
        const QJsonObject entry = rankings.at(row).toObject();
        const QString username = entry.value(QStringLiteral("username")).toString();
        const qint64 totalClicks = entry.value(QStringLiteral("total_clicks")).toInteger(0);

        // The array is in rank order; the rank is the position, not a figure from the server.
        auto *rankItem = new QTableWidgetItem(QString::number(row + 1));
        rankItem->setTextAlignment(Qt::AlignCenter);
        if (row < 3)
            rankItem->setForeground(QBrush(medals[row]));
        rankingTable->setItem(row, 0, rankItem);

        auto *nameItem = new QTableWidgetItem;
        ElidedText::show(nameItem, metrics, DisplayText::clean(username), kNameWidth);
        rankingTable->setItem(row, 1, nameItem);

        auto *clicksItem = new QTableWidgetItem(QString::number(totalClicks));
        clicksItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        rankingTable->setItem(row, 2, clicksItem);

        // A screen reader reads one cell at a time; each tells the whole row.
        // One arg() for all three, so that a "%1" in a name stays as it is. The clicks may pass
        // 2^31, too big for %n: the count only picks the plural form.
        const int clicksForm = int(qBound(qint64(std::numeric_limits<int>::min()), totalClicks,
                                          qint64(std::numeric_limits<int>::max())));
        const QString rowText = tr("第 %1 名: %2, %3 次点击", nullptr, clicksForm)
                                    .arg(QString::number(row + 1), DisplayText::clean(username),
                                         QString::number(totalClicks));
        for (QTableWidgetItem *item : {rankItem, nameItem, clicksItem})
            item->setData(Qt::AccessibleDescriptionRole, rowText);
    }
}

void RankingDialog::onNetworkError(const QString &errorMessage)
{
    statusLabel->setText(tr("网络错误: %1").arg(errorMessage));
}
