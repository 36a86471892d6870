#pragma once

#include "loginthrottle.h"

#include <QJsonObject>
#include <QString>

#include <functional>

class EffectCatalog;
class GameDatabase;

// Outcome of one game operation, before it is put on the wire.
struct ServiceResult
{
    enum class Status
    {
        Ok,           // done; `data` holds the reply members
        Refused,      // a game rule said no; `message` is shown to the player, nothing changed
        Unauthorized, // the account behind the session is gone
        Failed        // storage failure; nothing changed
    };
    Status status = Status::Ok;
    QJsonObject data;
    QString message;

    static ServiceResult ok(const QJsonObject &data);
    static ServiceResult refused(const QString &message);
    static ServiceResult unauthorized(const QString &message);
    static ServiceResult failed();
};

// The game rules on top of the database: accounts and sessions, clicks, gold, bank, effects and
// ranking. Every state change runs in one transaction, so a refused or failed operation leaves no
// trace and concurrent operations on one account never lose an update.
class GameService
{
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch

    struct Settings
    {
        // Anti-cheat: clicks credited per second of wall time since the account's previous
        // batch, and the bounds of one batch's allowance.
        double clickRate = 30.0;
        qint64 minBatchAllowance = 20;
        qint64 maxBatchAllowance = 100000;
        qint64 tokenLifetimeMs = 30LL * 24 * 60 * 60 * 1000;
        int passwordIterations = 0; // 0: PasswordHasher's default
    };

    GameService(GameDatabase &database, const EffectCatalog &catalog);
    GameService(GameDatabase &database, const EffectCatalog &catalog, const Settings &settings,
                Clock clock = Clock());

    enum class AddUserResult
    {
        Added,
        Exists,
        InvalidName,
        InvalidPassword,
        Failed
    };
    // `clicks`: the new account's starting balance of unspent clicks (not counted as made, so
    // not in the ranking). An existing account is left as it is.
    AddUserResult addUser(const QString &name, const QString &password, qint64 clicks = 0);
    // 1 to 32 characters, no control characters, no blanks at either end.
    static bool isValidUsername(const QString &name);
    static bool isValidPassword(const QString &password);

    ServiceResult login(const QString &name, const QString &password);
    // The account a session token belongs to: 0 when the token is unknown or expired, -1 when
    // the database could not be read.
    qint64 userForToken(const QString &token);

    // With a sync session (`syncId` non-empty), `syncTotal` is the number of clicks that session
    // has made up to and including this batch; only those not credited before count, so a
    // repeated or merged batch is credited once. Without one, `count` clicks are credited.
    ServiceResult click(qint64 userId, qint64 count, const QString &syncId = QString(),
                        qint64 syncTotal = 0);
    ServiceResult exchange(qint64 userId, qint64 clicksToExchange);
    ServiceResult deposit(qint64 userId, qint64 clicksAmount);
    ServiceResult buyEffect(qint64 userId, qint64 effectId);
    ServiceResult stats(qint64 userId);
    ServiceResult ranking(qint64 limit);
    ServiceResult effectList(qint64 userId);

    static const int kDefaultRankingLimit = 100;
    static const int kMaxRankingLimit = 200;
    static const qint64 kClicksPerGold = 100;
    static const qint64 kYuanPerClick = 10;

private:
    qint64 now() const;
    QString passwordHash(const QString &password) const;

    GameDatabase &m_db;
    const EffectCatalog &m_catalog;
    Settings m_settings;
    Clock m_clock;
    LoginThrottle m_throttle;
    QString m_dummyHash; // verified against for unknown names, so they cost the same time
};
