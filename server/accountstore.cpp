#include "accountstore.h"

#include "gamedatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

bool AccountStore::run(QSqlQuery &query, const char *what, const QString &statement,
                       std::initializer_list<QVariant> values)
{
    query.prepare(statement);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        m_db.fail(QString::fromLatin1(what), query.lastError());
        return false;
    }
    return true;
}

AccountStore::Lookup AccountStore::account(qint64 userId, Account *account, bool lock)
{
    QSqlQuery query(m_db.connection());
    if (!run(query, "reading an account",
             QStringLiteral("SELECT id, username, clicks, lifetime_clicks, gold, bank_balance,"
                            " last_click_ms FROM users WHERE id = ?") +
                 (lock ? m_db.forUpdate() : QString()),
             {userId}))
        return Lookup::Failed;
    if (!query.next())
        return Lookup::Missing;
    account->id = query.value(0).toLongLong();
    account->username = query.value(1).toString();
    account->clicks = query.value(2).toLongLong();
    account->lifetimeClicks = query.value(3).toLongLong();
    account->gold = query.value(4).toLongLong();
    account->bankBalance = query.value(5).toLongLong();
    account->lastClickMs = query.value(6).toLongLong();
    return Lookup::Found;
}

bool AccountStore::lockAccount(qint64 userId)
{
    if (m_db.forUpdate().isEmpty())
        return true; // the transaction holds the whole database
    QSqlQuery query(m_db.connection());
    return run(query, "locking an account",
               QStringLiteral("SELECT 1 FROM users WHERE id = ?") + m_db.forUpdate(), {userId});
}

std::optional<bool> AccountStore::nameExists(const QString &name)
{
    QSqlQuery query(m_db.connection());
    if (!run(query, "looking up an account name",
             QStringLiteral("SELECT 1 FROM users WHERE username = ?"), {name}))
        return std::nullopt;
    return query.next();
}

bool AccountStore::addAccount(const QString &name, const QString &passwordHash, qint64 clicks,
                              qint64 atMs)
{
    QSqlQuery query(m_db.connection());
    return run(query, "adding an account",
               QStringLiteral("INSERT INTO users (username, password_hash, clicks,"
                              " last_click_ms, created_ms) VALUES (?, ?, ?, ?, ?)"),
               {name, passwordHash, clicks, atMs, atMs});
}

std::optional<AccountStore::Credentials> AccountStore::credentials(const QString &name)
{
    QSqlQuery query(m_db.connection());
    if (!run(query, "looking up an account for login",
             QStringLiteral("SELECT id, password_hash FROM users WHERE username = ?"), {name}))
        return std::nullopt;
    Credentials found;
    if (query.next()) {
        found.userId = query.value(0).toLongLong();
        found.passwordHash = query.value(1).toString();
    }
    return found;
}

bool AccountStore::replacePasswordHash(qint64 userId, const QString &newHash,
                                       const QString &oldHash)
{
    QSqlQuery query(m_db.connection());
    return run(
        query, "upgrading a password hash",
        QStringLiteral("UPDATE users SET password_hash = ? WHERE id = ? AND password_hash = ?"),
        {newHash, userId, oldHash});
}

bool AccountStore::openSession(const QString &tokenHash, qint64 userId, qint64 atMs,
                               qint64 expiresMs)
{
    QSqlQuery purge(m_db.connection());
    QSqlQuery insert(m_db.connection());
    return run(purge, "removing expired sessions",
               QStringLiteral("DELETE FROM sessions WHERE expires_ms <= ?"), {atMs}) &&
           run(insert, "storing a session",
               QStringLiteral("INSERT INTO sessions (token_hash, user_id, created_ms,"
                              " expires_ms) VALUES (?, ?, ?, ?)"),
               {tokenHash, userId, atMs, expiresMs});
}

std::optional<qint64> AccountStore::sessionUser(const QString &tokenHash, qint64 nowMs)
{
    QSqlQuery query(m_db.connection());
    if (!run(query, "checking a session",
             QStringLiteral("SELECT user_id FROM sessions WHERE token_hash = ? AND expires_ms > ?"),
             {tokenHash, nowMs}))
        return std::nullopt;
    return query.next() ? query.value(0).toLongLong() : 0;
}

std::optional<qint64> AccountStore::syncedTotal(qint64 userId, const QString &syncId)
{
    QSqlQuery query(m_db.connection());
    if (!run(query, "reading a click sync",
             QStringLiteral("SELECT total FROM click_syncs WHERE user_id = ? AND sync_id = ?"),
             {userId, syncId}))
        return std::nullopt;
    return query.next() ? query.value(0).toLongLong() : 0;
}

bool AccountStore::recordSync(qint64 userId, const QString &syncId, qint64 total, qint64 atMs)
{
    QSqlQuery query(m_db.connection());
    return run(query, "recording a click sync",
               QStringLiteral("INSERT INTO click_syncs (user_id, sync_id, total, updated_ms)"
                              " VALUES (?, ?, ?, ?) ON CONFLICT (user_id, sync_id) DO UPDATE"
                              " SET total = excluded.total, updated_ms = excluded.updated_ms"),
               {userId, syncId, total, atMs});
}

bool AccountStore::forgetSyncsBefore(qint64 userId, qint64 beforeMs)
{
    QSqlQuery query(m_db.connection());
    return run(query, "forgetting old click syncs",
               QStringLiteral("DELETE FROM click_syncs WHERE user_id = ? AND updated_ms < ?"),
               {userId, beforeMs});
}

bool AccountStore::creditClicks(qint64 userId, qint64 clicks, qint64 atMs)
{
    QSqlQuery query(m_db.connection());
    return run(query, "crediting clicks",
               QStringLiteral("UPDATE users SET clicks = clicks + ?,"
                              " lifetime_clicks = lifetime_clicks + ?, last_click_ms = ?"
                              " WHERE id = ?"),
               {clicks, clicks, atMs, userId});
}

bool AccountStore::exchangeClicks(qint64 userId, qint64 clicks, qint64 gold)
{
    QSqlQuery query(m_db.connection());
    return run(query, "exchanging clicks",
               QStringLiteral("UPDATE users SET clicks = clicks - ?, gold = gold + ? WHERE id = ?"),
               {clicks, gold, userId});
}

bool AccountStore::depositClicks(qint64 userId, qint64 clicks, qint64 yuan)
{
    QSqlQuery query(m_db.connection());
    return run(query, "depositing clicks",
               QStringLiteral("UPDATE users SET clicks = clicks - ?,"
                              " bank_balance = bank_balance + ? WHERE id = ?"),
               {clicks, yuan, userId});
}

std::optional<bool> AccountStore::ownsEffect(qint64 userId, qint64 effectId)
{
    QSqlQuery query(m_db.connection());
    if (!run(query, "looking up an owned effect",
             QStringLiteral("SELECT 1 FROM owned_effects WHERE user_id = ? AND effect_id = ?"),
             {userId, effectId}))
        return std::nullopt;
    return query.next();
}

bool AccountStore::buyEffect(qint64 userId, qint64 effectId, qint64 price, qint64 atMs)
{
    QSqlQuery pay(m_db.connection());
    QSqlQuery grant(m_db.connection());
    return run(pay, "paying for an effect",
               QStringLiteral("UPDATE users SET gold = gold - ? WHERE id = ?"), {price, userId}) &&
           run(grant, "granting an effect",
               QStringLiteral(
                   "INSERT INTO owned_effects (user_id, effect_id, bought_ms) VALUES (?, ?, ?)"),
               {userId, effectId, atMs});
}

std::optional<QList<qint64>> AccountStore::ownedEffects(qint64 userId)
{
    QSqlQuery query(m_db.connection());
    if (!run(query, "listing owned effects",
             QStringLiteral(
                 "SELECT effect_id FROM owned_effects WHERE user_id = ? ORDER BY effect_id"),
             {userId}))
        return std::nullopt;
    QList<qint64> ids;
    while (query.next())
        ids.append(query.value(0).toLongLong());
    return ids;
}

std::optional<QList<AccountStore::RankingRow>> AccountStore::ranking(qint64 limit)
{
    QSqlQuery query(m_db.connection());
    if (!run(query, "reading the ranking",
             QStringLiteral("SELECT username, lifetime_clicks FROM users"
                            " ORDER BY lifetime_clicks DESC, username ASC LIMIT ?"),
             {limit}))
        return std::nullopt;
    QList<RankingRow> rows;
    while (query.next())
        rows.append(RankingRow{query.value(0).toString(), query.value(1).toLongLong()});
    return rows;
}

std::optional<qint64> AccountStore::lockedUntil(const QString &firstKey, const QString &secondKey)
{
    QSqlQuery query(m_db.connection());
    if (!run(query, "reading the login throttle",
             QStringLiteral("SELECT MAX(locked_until_ms) FROM login_locks"
                            " WHERE throttle_key IN (?, ?)"),
             {firstKey, secondKey}))
        return std::nullopt;
    return query.next() ? query.value(0).toLongLong() : 0;
}

bool AccountStore::lockThrottleKey(const QString &key)
{
    const QString statement = m_db.keyLockStatement();
    if (statement.isEmpty())
        return true; // the transaction holds the whole database
    QSqlQuery query(m_db.connection());
    return run(query, "taking a login throttle key", statement, {key});
}

std::optional<qint64> AccountStore::addLoginFailure(const QString &key, qint64 nowMs,
                                                    qint64 sinceMs)
{
    QSqlQuery forget(m_db.connection());
    QSqlQuery insert(m_db.connection());
    QSqlQuery count(m_db.connection());
    // Failures "from the future" go too: the clock was set back.
    if (!run(forget, "forgetting old login failures",
             QStringLiteral("DELETE FROM login_failures WHERE throttle_key = ?"
                            " AND (at_ms < ? OR at_ms > ?)"),
             {key, sinceMs, nowMs}) ||
        !run(insert, "recording a login failure",
             QStringLiteral("INSERT INTO login_failures (throttle_key, at_ms) VALUES (?, ?)"),
             {key, nowMs}) ||
        !run(count, "counting login failures",
             QStringLiteral("SELECT COUNT(*) FROM login_failures WHERE throttle_key = ?"), {key}))
        return std::nullopt;
    return count.next() ? count.value(0).toLongLong() : 0;
}

bool AccountStore::lockLogins(const QString &key, qint64 untilMs)
{
    QSqlQuery lock(m_db.connection());
    return run(lock, "locking logins",
               QStringLiteral("INSERT INTO login_locks (throttle_key, locked_until_ms)"
                              " VALUES (?, ?) ON CONFLICT (throttle_key) DO UPDATE"
                              " SET locked_until_ms = excluded.locked_until_ms"),
               {key, untilMs}) &&
           clearLoginFailures(key);
}

bool AccountStore::clearLoginFailures(const QString &key)
{
    QSqlQuery query(m_db.connection());
    return run(query, "clearing login failures",
               QStringLiteral("DELETE FROM login_failures WHERE throttle_key = ?"), {key});
}

bool AccountStore::forgetLoginFailuresBefore(qint64 beforeMs)
{
    QSqlQuery failures(m_db.connection());
    QSqlQuery locks(m_db.connection());
    return run(failures, "forgetting old login failures",
               QStringLiteral("DELETE FROM login_failures WHERE at_ms < ?"), {beforeMs}) &&
           run(locks, "forgetting old login locks",
               QStringLiteral("DELETE FROM login_locks WHERE locked_until_ms < ?"), {beforeMs});
}
