#pragma once

#include <QHash>
#include <QList>
#include <QSqlQuery>
#include <QString>

#include <optional>

class GameDatabase;
class QVariant;

// Every statement the game runs on accounts, sessions, sync sessions and owned effects. The
// game rules decide; this only reads and writes. Writers expect to run inside a transaction
// of the database (GameDatabase::Transaction). A failed statement is logged and reported as
// false or nullopt.
class AccountStore
{
public:
    struct Account
    {
        qint64 id = 0;
        QString username;
        qint64 clicks = 0;
        qint64 lifetimeClicks = 0;
        qint64 gold = 0;
        qint64 bankBalance = 0;
        qint64 lastClickMs = 0;
    };
    enum class Lookup
    {
        Found,
        Missing,
        Failed
    };
    struct Credentials
    {
        qint64 userId = 0; // 0: no such account
        QString passwordHash;
    };
    struct RankingRow
    {
        QString username;
        qint64 lifetimeClicks = 0;
    };

    explicit AccountStore(GameDatabase &database);
    ~AccountStore();
    AccountStore(const AccountStore &) = delete;
    AccountStore &operator=(const AccountStore &) = delete;

    GameDatabase &database() { return m_db; }

    // `lock`: the account is about to change; no other server process may change it until this
    // transaction ends.
    Lookup account(qint64 userId, Account *account, bool lock = false);
    bool lockAccount(qint64 userId);
    std::optional<bool> nameExists(const QString &name);
    bool addAccount(const QString &name, const QString &passwordHash, qint64 clicks, qint64 atMs);
    std::optional<Credentials> credentials(const QString &name);
    // Only if the hash is still `oldHash`: nobody changed the password meanwhile.
    bool replacePasswordHash(qint64 userId, const QString &newHash, const QString &oldHash);

    // Also removes every expired session.
    bool openSession(const QString &tokenHash, qint64 userId, qint64 atMs, qint64 expiresMs);
    // 0 when no live session has this hash.
    std::optional<qint64> sessionUser(const QString &tokenHash, qint64 nowMs);

    // Clicks of the sync session already credited; 0 for a new one.
    std::optional<qint64> syncedTotal(qint64 userId, const QString &syncId);
    bool recordSync(qint64 userId, const QString &syncId, qint64 total, qint64 atMs);
    bool forgetSyncsBefore(qint64 userId, qint64 beforeMs);

    bool creditClicks(qint64 userId, qint64 clicks, qint64 atMs);
    bool exchangeClicks(qint64 userId, qint64 clicks, qint64 gold);
    bool depositClicks(qint64 userId, qint64 clicks, qint64 yuan);

    std::optional<bool> ownsEffect(qint64 userId, qint64 effectId);
    bool buyEffect(qint64 userId, qint64 effectId, qint64 price, qint64 atMs);
    // Ascending ids.
    std::optional<QList<qint64>> ownedEffects(qint64 userId);

    std::optional<QList<RankingRow>> ranking(qint64 limit);

    // The login throttle's records, per key. lockThrottleKey() makes the updates of one key take
    // turns across processes for the rest of the transaction.
    std::optional<qint64> lockedUntil(const QString &firstKey, const QString &secondKey);
    bool lockThrottleKey(const QString &key);
    // Records a failure at `nowMs`, forgets the key's failures before `sinceMs`, and returns how
    // many it has since then.
    std::optional<qint64> addLoginFailure(const QString &key, qint64 nowMs, qint64 sinceMs);
    // Locks the key until `untilMs` and starts its count afresh.
    bool lockLogins(const QString &key, qint64 untilMs);
    bool clearLoginFailures(const QString &key);
    bool forgetLoginFailuresBefore(qint64 beforeMs);

private:
    // Runs `statement`, prepared once per connection, with `values` bound in order; logs a
    // failure as `what` and returns null. The caller reads the result, then finishes the query,
    // which ends SQLite's read snapshot.
    QSqlQuery *run(const char *what, const QString &statement,
                   std::initializer_list<QVariant> values);
    bool write(const char *what, const QString &statement, std::initializer_list<QVariant> values);

    GameDatabase &m_db;
    QHash<QString, QSqlQuery> m_prepared;
    quint64 m_generation = 0;
};
