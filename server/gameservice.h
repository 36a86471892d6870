#pragma once

#include "loginthrottle.h"
#include "passwordhasher.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <optional>

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
        Conflict,     // a request id used before for another action; nothing changed
        Failed        // storage failure; nothing changed
    };
    Status status = Status::Ok;
    QJsonObject data;
    QString message;

    static ServiceResult ok(const QJsonObject &data);
    static ServiceResult refused(const QString &message);
    static ServiceResult unauthorized(const QString &message);
    static ServiceResult conflict(const QString &message);
    static ServiceResult failed();
};

// The game rules on top of the database: accounts and sessions, clicks, gold, bank, effects and
// ranking. Every state change runs in one transaction, so a refused or failed operation leaves no
// trace and concurrent operations on one account never lose an update.
// Password checks are slow on purpose; loginAsync() runs them on a small pool of worker threads
// so that the thread serving clicks never waits for one.
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
        int passwordThreads = 0; // 0: all cores but one, at least one
    };

    GameService(GameDatabase &database, const EffectCatalog &catalog);
    GameService(GameDatabase &database, const EffectCatalog &catalog, const Settings &settings,
                Clock clock = Clock());
    ~GameService(); // waits for password checks still running

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
    // The same, with the password check on a worker thread; `done` runs later on the calling
    // thread, never before this returns. Attempts for one name run one after the other, so the
    // throttle sees each failure before the next guess is checked.
    using LoginDone = std::function<void(const ServiceResult &)>;
    void loginAsync(const QString &name, const QString &password, LoginDone done);
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
    struct LoginAttempt
    {
        QString name;
        QString password;
        qint64 userId = 0; // 0: no such account
        QString storedHash;
    };
    struct PasswordCheck
    {
        bool matches = false;
        QString newHash; // set when the stored hash is due for an upgrade
    };
    struct QueuedLogin
    {
        QString password;
        LoginDone done;
    };

    qint64 now() const;
    // The answer when the attempt is over before its password is checked.
    std::optional<ServiceResult> beginLogin(const QString &name, const QString &password,
                                            LoginAttempt *attempt);
    // Thread-safe: touches nothing of this object.
    static PasswordCheck checkPassword(const LoginAttempt &attempt,
                                       const PasswordHasher::Cost &cost);
    ServiceResult finishLogin(const LoginAttempt &attempt, const PasswordCheck &check);
    void startQueuedLogin(const QString &name);
    void completeLogin(const QString &name, const ServiceResult &result);

    ServiceResult applyOnce(qint64 userId, const QString &requestId, const QString &action,
                            const std::function<ServiceResult()> &apply);
    ServiceResult exchangeNow(qint64 userId, qint64 clicksToExchange);
    ServiceResult depositNow(qint64 userId, qint64 clicksAmount);
    ServiceResult buyEffectNow(qint64 userId, qint64 effectId);

    GameDatabase &m_db;
    const EffectCatalog &m_catalog;
    Settings m_settings;
    Clock m_clock;
    LoginThrottle m_throttle;
    // Per name, the logins waiting for the one being checked; a name is here while one runs.
    QHash<QString, QList<QueuedLogin>> m_loginQueues;
    QObject m_replyContext;     // finished checks are handed back through its thread's event queue
    QThreadPool m_passwordPool; // last: destroyed, and so waited for, first
};
