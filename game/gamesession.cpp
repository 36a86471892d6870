#include "gamesession.h"

#include "replyfigures.h"
#include "sessiontext.h"

#include "net/authmanager.h"

#include <QJsonArray>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <climits>

GameSession::GameSession(AuthManager *authManager, ApiClient *apiClient, QObject *parent)
    : GameSession(authManager, apiClient, Intervals(), parent)
{
}

GameSession::GameSession(AuthManager *authManager, ApiClient *apiClient, const Intervals &intervals,
                         QObject *parent)
    : QObject(parent), authManager(authManager), apiClient(apiClient), timing(intervals),
      syncId(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    outbox = std::make_shared<ClickOutbox>(
        apiClient->endpoint(),
        ClickOutbox::accountKey(authManager->userId(), authManager->username()));
    inherited = outbox->inherited();
    for (const ClickOutbox::Entry &entry : std::as_const(inherited))
        unconfirmedClicks += int(qMin<qint64>(entry.owed(), INT_MAX - unconfirmedClicks));

    syncTimer = new QTimer(this);
    syncTimer->setObjectName(QStringLiteral("syncTimer"));
    syncTimer->setInterval(timing.syncMs);
    connect(syncTimer, &QTimer::timeout, this, &GameSession::onSyncTick);
    syncTimer->start();

    // One journal write covers every click of its period: at 30 clicks/s that is far fewer
    // writes than clicks.
    journalTimer = new QTimer(this);
    journalTimer->setSingleShot(true);
    journalTimer->setInterval(timing.journalMs);
    connect(journalTimer, &QTimer::timeout, this, &GameSession::writeJournal);
}

GameSession::~GameSession() = default;

qint64 GameSession::shownClicks() const
{
    return authManager->clicks() + unconfirmedClicks;
}

qint64 GameSession::availableClicks() const
{
    return authManager->clicks();
}

qint64 GameSession::gold() const
{
    return authManager->gold();
}

QString GameSession::balance() const
{
    return authManager->balance();
}

QString GameSession::username() const
{
    return authManager->username();
}

void GameSession::click()
{
    if (pendingClicks < INT_MAX && unconfirmedClicks < INT_MAX) {
        ++pendingClicks;
        ++unconfirmedClicks;
    }
    ++clicksMade;
    if (!journalTimer->isActive())
        journalTimer->start();
    emit clicksChanged(shownClicks());
    if (pendingClicks >= syncThreshold)
        forceSync();
}

void GameSession::writeJournal()
{
    journalTimer->stop();
    if (clicksMade <= clicksJournaled)
        return;
    outbox->journal(syncId, clicksMade);
    clicksJournaled = clicksMade;
}

void GameSession::start()
{
    loadStats();
    // What earlier windows left owed goes first; this session's own clicks keep their tick.
    if (!inherited.isEmpty())
        forceSync();
}

void GameSession::onSyncTick()
{
    forceSync();
    writeJournal();
    outbox->syncJournal();
    if (pendingClicks > 0)
        recordOwed();
}

void GameSession::forceSync()
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

void GameSession::recordOwed()
{
    writeJournal();
    if (clicksMade > 0)
        outbox->record(syncId, clicksMade);
}

void GameSession::sendInherited()
{
    const ClickOutbox::Entry entry = inherited.first();
    syncing = true;
    QPointer<GameSession> self(this);
    const std::shared_ptr<ClickOutbox> box = outbox;
    apiClient->sendClicks(
        int(qMin<qint64>(entry.owed(), INT_MAX)), entry.syncId, entry.total,
        [self, box, entry](bool success, const QJsonObject &data, const ApiError &) {
            if (success)
                box->confirm(entry.syncId, entry.total);
            if (!self)
                return;
            self->syncing = false;
            if (!success) {
                emit self->message(SessionText::offline());
                return;
            }
            self->inherited.removeIf(
                [&entry](const ClickOutbox::Entry &e) { return e.syncId == entry.syncId; });
            self->onBatchConfirmed(entry.owed(), data);
            self->forceSync();
        },
        this);
}

void GameSession::onBatchConfirmed(qint64 count, const QJsonObject &data)
{
    unconfirmedClicks = int(qMax<qint64>(0, unconfirmedClicks - count));
    qint64 clicks = 0;
    qint64 gold = 0;
    // Credited either way; figures that cannot be true are not shown.
    if (ReplyFigures::count(data, QStringLiteral("total_clicks"), &clicks) &&
        ReplyFigures::count(data, QStringLiteral("gold"), &gold))
        authManager->updateClicksAndGold(clicks, gold);
    emit figuresChanged();
    if (unconfirmedClicks == 0)
        emit message(SessionText::synced());
}

void GameSession::flushPendingClicks()
{
    if (pendingClicks <= 0)
        return;
    const int count = pendingClicks;
    pendingClicks = 0;
    sendBatch(count, false);
}

void GameSession::sendBatch(int count, bool tracked)
{
    QPointer<GameSession> self(this);
    const std::shared_ptr<ClickOutbox> box = outbox;
    const QString id = syncId;
    const qint64 total = clicksMade;
    // Every batch takes all pending clicks, so after it every click made has been sent once.
    apiClient->sendClicks(
        count, syncId, clicksMade,
        [self, box, id, total, count, tracked](bool success, const QJsonObject &data,
                                               const ApiError &) {
            if (success)
                box->confirm(id, total);
            if (!self) {
                if (!success)
                    box->record(id, total);
                return;
            }
            if (tracked)
                self->syncing = false;
            if (!success) {
                self->pendingClicks += count;
                emit self->message(SessionText::offline());
                self->recordOwed();
                return;
            }
            self->onBatchConfirmed(count, data);
        },
        this);
}

void GameSession::loadStats()
{
    QPointer<GameSession> self(this);
    apiClient->fetchStats(
        [self](bool success, const QJsonObject &data, const ApiError &error) {
            if (self)
                self->onFetchStatsDone(success, data, error);
        },
        this);
}

void GameSession::onFetchStatsDone(bool success, const QJsonObject &data, const ApiError &error)
{
    if (!success) {
        if (!error.isSessionExpired()) {
            emit message(SessionText::loadFailed(error.text()));
            return;
        }
        emit message(SessionText::expired());
        authManager->expireSession();
        recordOwed();
        emit sessionExpired();
        return;
    }

    qint64 total = 0;
    qint64 gold = 0;
    QString balance = QStringLiteral("0");
    bool valid = ReplyFigures::count(data, QStringLiteral("total_clicks"), &total) &&
                 ReplyFigures::count(data, QStringLiteral("gold"), &gold);
    if (data.contains(QLatin1String("balance")))
        valid = valid && ReplyFigures::balance(data, QStringLiteral("balance"), &balance);
    else if (data.contains(QLatin1String("bank_balance")))
        valid = valid && ReplyFigures::balance(data, QStringLiteral("bank_balance"), &balance);
    if (!valid) {
        // The figures shown stay; the next show of the window tries again.
        emit message(SessionText::loadFailed(ApiError::badFigures().text()));
        return;
    }
    authManager->updateStats(total, gold, balance);
    const QString name = data.value(QLatin1String("username")).toString();
    if (!name.isEmpty())
        authManager->setUsername(name);
    statsLoaded = true;

    if (data.contains(QLatin1String("effects"))) {
        QStringList classes;
        for (const QJsonValue &effect : data.value(QLatin1String("effects")).toArray())
            classes << effect.toObject().value(QLatin1String("css_class")).toString();
        emit effectsOwned(classes);
    }
    emit figuresChanged();
}

void GameSession::exchangeGold(int clicks)
{
    spend(Spend::Exchange, clicks);
}

void GameSession::depositToBank(int clicks)
{
    spend(Spend::Deposit, clicks);
}

void GameSession::spend(Spend what, int clicks)
{
    const auto send =
        what == Spend::Exchange ? &ApiClient::exchangeGold : &ApiClient::depositToBank;
    QPointer<GameSession> self(this);
    (apiClient->*send)(
        clicks, [self, what, clicks](bool success, const QJsonObject &data, const ApiError &error) {
            if (self)
                self->onSpendDone(what, clicks, success, data, error);
        });
}

void GameSession::onSpendDone(Spend spend, int amount, bool success, const QJsonObject &data,
                              const ApiError &error)
{
    if (!success) {
        // Applied or not, nobody knows: show the server's figures.
        if (error.isNoReply())
            loadStats();
        emit spendFailed(spend, error.text());
        return;
    }
    qint64 remaining = 0;
    bool valid = ReplyFigures::count(data, QStringLiteral("remaining_clicks"), &remaining);
    QString text;
    if (spend == Spend::Exchange) {
        qint64 newGold = 0;
        valid = valid && ReplyFigures::count(data, QStringLiteral("new_gold"), &newGold);
        // "+N" is what this exchange gained: other replies may have brought the new gold
        // already, so it cannot be read off the figures shown now.
        qint64 gained = amount / 100;
        if (data.value(QLatin1String("gold_gained")).isDouble() &&
            !ReplyFigures::count(data, QStringLiteral("gold_gained"), &gained))
            gained = amount / 100;
        if (valid)
            authManager->updateClicksAndGold(remaining, newGold);
        text = SessionText::exchanged(gained);
    } else {
        QString balance;
        qint64 yuan = 0;
        valid = valid &&
                ReplyFigures::balance(data, QStringLiteral("new_bank_balance"), &balance) &&
                ReplyFigures::count(data, QStringLiteral("yuan_converted"), &yuan);
        if (valid) {
            authManager->updateStats(remaining, authManager->gold(), balance);
            statsLoaded = true;
        }
        text = SessionText::deposited(yuan);
    }
    emit figuresChanged();
    emit message(text);
    loadStats();
}

void GameSession::logout()
{
    // The last batch must carry the token, so it leaves before the session is cleared.
    flushPendingClicks();
    authManager->logout();
}

void GameSession::finish()
{
    // Clicks not yet sent leave now, whatever is in flight. After the session has ended there
    // is no token left to send them with. Either way the outbox keeps them until the server
    // confirms them.
    recordOwed();
    if (authManager->isLoggedIn())
        flushPendingClicks();
}
