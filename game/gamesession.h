#pragma once

#include "net/apiclient.h"
#include "net/clickoutbox.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class AuthManager;
class QTimer;

// The rules of one game session, without widgets: counts the clicks at once, sends them in
// batches, keeps what the server has not confirmed in the outbox, loads the statistics, notices
// an expired session, and runs the exchange and deposit requests. A view shows the figures and
// messages it reports and forwards the player's actions.
class GameSession : public QObject
{
    Q_OBJECT

public:
    struct Intervals
    {
        int syncMs = 3000;  // the tick: sends what is pending and syncs the journal to disk
        int journalMs = 50; // a click is written to the journal at most this long after it
    };
    // Pending clicks that send a batch at once.
    static constexpr int syncThreshold = 20;

    enum class Spend
    {
        Exchange,
        Deposit
    };

    GameSession(AuthManager *authManager, ApiClient *apiClient, QObject *parent = nullptr);
    GameSession(AuthManager *authManager, ApiClient *apiClient, const Intervals &intervals,
                QObject *parent = nullptr);
    ~GameSession() override;

    // The figures to show. Clicks are the server's count plus those it has not confirmed yet.
    qint64 shownClicks() const;
    // What may be spent: the server's last confirmed count.
    qint64 availableClicks() const;
    qint64 gold() const;
    QString balance() const;
    QString username() const;

    int pendingClickCount() const { return pendingClicks; }
    int unconfirmedClickCount() const { return unconfirmedClicks; }
    bool isSyncing() const { return syncing; }
    bool isStatsLoaded() const { return statsLoaded; }
    const Intervals &intervals() const { return timing; }

    // The player clicked once.
    void click();
    // Hands everything pending to the server now, unless a batch is in flight. What earlier
    // sessions left owed goes first.
    void forceSync();
    void loadStats();
    // The view is on screen: the statistics load, and what earlier sessions left is sent.
    void start();
    void exchangeGold(int clicks);
    void depositToBank(int clicks);
    // Sends what is pending with the session's token, then ends the session.
    void logout();
    // The view is going away: what is unconfirmed goes to the outbox, and what is pending is
    // sent while a session is still in force, whatever is in flight.
    void finish();

signals:
    // Every figure may have changed.
    void figuresChanged();
    // Only the click count changed.
    void clicksChanged(qint64 shown);
    // A short message for the player.
    void message(const QString &text);
    // The statistics list these effects (by style class) as the player's.
    void effectsOwned(const QStringList &cssClasses);
    void spendFailed(GameSession::Spend spend, const QString &error);
    // The server no longer accepts the session; it has been logged out.
    void sessionExpired();

private:
    void onFetchStatsDone(bool success, const QJsonObject &data, const ApiError &error);
    void onSyncTick();
    void sendBatch(int count, bool tracked);
    // The server credited `count` clicks and sent back the figures in `data`.
    void onBatchConfirmed(qint64 count, const QJsonObject &data);
    void sendInherited();
    void flushPendingClicks();
    void recordOwed();
    void writeJournal();
    void spend(Spend what, int clicks);
    void onSpendDone(Spend spend, int amount, bool success, const QJsonObject &data,
                     const ApiError &error);

    AuthManager *authManager;
    ApiClient *apiClient;
    Intervals timing;
    QTimer *syncTimer = nullptr;
    QTimer *journalTimer = nullptr;
    int pendingClicks = 0;
    bool syncing = false;
    bool statsLoaded = false;
    int unconfirmedClicks = 0;
    // Lets the server recognise a batch it has already credited when a reply was lost.
    QString syncId;
    qint64 clicksMade = 0;
    qint64 clicksJournaled = 0;
    // Shared with the batches in flight, whose replies may come after the session is gone.
    std::shared_ptr<ClickOutbox> outbox;
    // Sessions of earlier windows still owed; they go out before this session's own batches.
    QList<ClickOutbox::Entry> inherited;
};
