#pragma once

#include <QDialog>
#include <QJsonArray>
#include <QString>

class ApiClient;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

// The leaderboard: the players with the most clicks, as the server ranks them.
class RankingDialog : public QDialog
{
    Q_OBJECT

public:
    explicit RankingDialog(ApiClient *api, QWidget *parent = nullptr);

    void loadRanking(int limit);

private slots:
    void onRefreshClicked();
    void onFetchRankingDone(bool success, const QJsonArray &rankings, const QString &error);
    void onNetworkError(const QString &errorMessage);

private:
    void setupUi();
    void populateTable(const QJsonArray &rankings, int rows);

    ApiClient *apiClient;
    QTableWidget *rankingTable = nullptr;
    QPushButton *refreshButton = nullptr;
    QComboBox *limitCombo = nullptr;
    QLabel *statusLabel = nullptr;
    int requestedLimit = 0;
};
