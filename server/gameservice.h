#pragma once

#include "accountstore.h"
#include "loginservice.h"
#include "passwordhasher.h"
#include "serviceresult.h"

#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

class EffectCatalog;
class GameDatabase;

// The game rules: accounts and sessions, clicks, gold, bank, effects and ranking, on top of the
// account store. Every state change runs in one transaction, so a refused or failed operation
// leaves no trace and concurrent operations on one account never lose an update. Logins go to
// the login service.
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
        PasswordHasher::Cost passwordCost = PasswordHasher::kDefaultCost; // of new hashes
        int passwordThreads = 0;   // 0: all cores but one, at least one
        int maxWaitingLogins = 64; // past it, a login is refused as busy at once
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

    // `address`: the client's, for the login throttle. See LoginService.
    ServiceResult login(const QString &name, const QString &password,
                        const QString &address = QString());
    using LoginDone = LoginService::LoginDone;
    void loginAsync(const QString &name, const QString &password, LoginDone done);
    void loginAsync(const QString &name, const QString &password, const QString &address,
                    LoginDone done);
    // The account a session token belongs to: 0 when the token is unknown or expired, -1 when
    // the database could not be read.
    qint64 userForToken(const QString &token);

    // With a sync session (`syncId` non-empty), `syncTotal` is the number of clicks that session
    // has made up to and including this batch; only those not credited before count, so a
    // repeated or merged batch is credited once. Without one, `count` clicks are credited.
    ServiceResult click(qint64 userId, qint64 count, const QString &syncId = QString(),
                        qint64 syncTotal = 0);
    // With a `requestId`, the reply is stored with the change; the same id again gets that reply
    // without the action being applied again, and Conflict when it came with other parameters.
    ServiceResult exchange(qint64 userId, qint64 clicksToExchange,
                           const QString &requestId = QString());
    ServiceResult deposit(qint64 userId, qint64 clicksAmount, const QString &requestId = QString());
    ServiceResult buyEffect(qint64 userId, qint64 effectId, const QString &requestId = QString());
    ServiceResult stats(qint64 userId);
    ServiceResult ranking(qint64 limit);
    ServiceResult effectList(qint64 userId);

    static const int kDefaultRankingLimit = 100;
    static const int kMaxRankingLimit = 200;
    static const qint64 kClicksPerGold = 100;
    static const qint64 kYuanPerClick = 10;

private:
    qint64 now() const;
    ServiceResult applyOnce(qint64 userId, const QString &requestId, const QString &action,
                            const std::function<ServiceResult()> &apply);
    ServiceResult exchangeNow(qint64 userId, qint64 clicksToExchange);
    ServiceResult depositNow(qint64 userId, qint64 clicksAmount);
    ServiceResult buyEffectNow(qint64 userId, qint64 effectId);

    GameDatabase &m_db;
    AccountStore m_store;
    const EffectCatalog &m_catalog;
    Settings m_settings;
    Clock m_clock;
    LoginService m_logins;
};
