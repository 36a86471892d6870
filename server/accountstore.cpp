#include "accountstore.h"

#include "gamedatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Ends a query's result when the reading is done.
class Finished
{
public:
    explicit Finished(QSqlQuery *query) : m_query(query) {}
    ~Finished()
    {
        if (m_query)
            m_query->finish();
    }
    Finished(const Finished &) = delete;
    Finished &operator=(const Finished &) = delete;

private:
    QSqlQuery *m_query;
};

} // namespace

AccountStore::AccountStore(GameDatabase &database) : m_db(database)
{
    m_db.setBeforeClose(this, [this] { m_prepared.clear(); });
}

AccountStore::~AccountStore()
{
    m_db.releaseBeforeClose(this);
}

// A database server otherwise parses, plans and forgets each statement anew: three round trips
// where one does.
QSqlQuery *AccountStore::run(const char *what, const QString &statement,
                             std::initializer_list<QVariant> values)
{
    const QSqlDatabase db = m_db.connection(); // may reconnect
    if (m_generation != m_db.generation()) {
        m_prepared.clear();
        m_generation = m_db.generation();
    }
    auto it = m_prepared.find(statement);
    if (it == m_prepared.end()) {
        QSqlQuery query(db);
        if (!query.prepare(statement)) {
            m_db.fail(QString::fromLatin1(what), query.lastError());
            return nullptr;
        }
        it = m_prepared.insert(statement, query);
    }
    QSqlQuery &query = *it;
    int position = 0;
    for (const QVariant &value : values)
        query.bindValue(position++, value);
    if (!query.exec()) {
        const QSqlError error = query.lastError();
        m_prepared.erase(it);
        m_db.fail(QString::fromLatin1(what), error);
        return nullptr;
    }
    return &query;
}

bool AccountStore::write(const char *what, const QString &statement,
                         std::initializer_list<QVariant> values)
{
    QSqlQuery *query = run(what, statement, values);
    if (query)
        query->finish();
    return query != nullptr;
}

AccountStore::Lookup AccountStore::account(qint64 userId, Account *account, bool lock)
{
    QSqlQuery *query =
        run("reading an account",
            QStringLiteral("SELECT id, username, clicks, lifetime_clicks, gold, bank_balance,"
                           " last_click_ms FROM users WHERE id = ?") +
                (lock ? m_db.forUpdate() : QString()),
            {userId});
    if (!query)
        return Lookup::Failed;
    Finished done(query);
    if (!query->next())
        return Lookup::Missing;
    account->id = query->value(0).toLongLong();
    account->username = query->value(1).toString();
    account->clicks = query->value(2).toLongLong();
    account->lifetimeClicks = query->value(3).toLongLong();
    account->gold = query->value(4).toLongLong();
    account->bankBalance = query->value(5).toLongLong();
    account->lastClickMs = query->value(6).toLongLong();
    return Lookup::Found;
}

bool AccountStore::lockAccount(qint64 userId)
{
    if (m_db.forUpdate().isEmpty())
        return true; // the transaction holds the whole database
    return write("locking an account",
                 QStringLiteral("SELECT 1 FROM users WHERE id = ?") + m_db.forUpdate(), {userId});
}

std::optional<bool> AccountStore::nameExists(const QString &name)
{
    QSqlQuery *query = run("looking up an account name",
                           QStringLiteral("SELECT 1 FROM users WHERE username = ?"), {name});
    if (!query)
        return std::nullopt;
    Finished done(query);
    return query->next();
}

bool AccountStore::addAccount(const QString &name, const QString &passwordHash, qint64 clicks,
                              qint64 atMs)
{
    return write("adding an account",
                 QStringLiteral("INSERT INTO users (username, password_hash, clicks,"
                                " last_click_ms, created_ms) VALUES (?, ?, ?, ?, ?)"),
                 {name, passwordHash, clicks, atMs, atMs});
}

std::optional<AccountStore::Credentials> AccountStore::credentials(const QString &name)
{
    QSqlQuery *query =
        run("looking up an account for login",
            QStringLiteral("SELECT id, password_hash FROM users WHERE username = ?"), {name});
    if (!query)
        return std::nullopt;
    Finished done(query);
    Credentials found;
    if (query->next()) {
        found.userId = query->value(0).toLongLong();
        found.passwordHash = query->value(1).toString();
    }
    return found;
}

bool AccountStore::replacePasswordHash(qint64 userId, const QString &newHash,
                                       const QString &oldHash)
{
    return write(
        "upgrading a password hash",
        QStringLiteral("UPDATE users SET password_hash = ? WHERE id = ? AND password_hash = ?"),
        {newHash, userId, oldHash});
}

bool AccountStore::openSession(const QString &tokenHash, qint64 userId, qint64 atMs,
                               qint64 expiresMs)
{
    return write("removing expired sessions",
                 QStringLiteral("DELETE FROM sessions WHERE expires_ms <= ?"), {atMs}) &&
           write("storing a session",
                 QStringLiteral("INSERT INTO sessions (token_hash, user_id, created_ms,"
                                " expires_ms) VALUES (?, ?, ?, ?)"),
                 {tokenHash, userId, atMs, expiresMs});
}

std::optional<qint64> AccountStore::sessionUser(const QString &tokenHash, qint64 nowMs)
{
    QSqlQuery *query =
        run("checking a session",
            QStringLiteral("SELECT user_id FROM sessions WHERE token_hash = ? AND expires_ms > ?"),
            {tokenHash, nowMs});
    if (!query)
        return std::nullopt;
    Finished done(query);
    return query->next() ? query->value(0).toLongLong() : 0;
}

std::optional<qint64> AccountStore::syncedTotal(qint64 userId, const QString &syncId)
{
    QSqlQuery *query =
        run("reading a click sync",
            QStringLiteral("SELECT total FROM click_syncs WHERE user_id = ? AND sync_id = ?"),
            {userId, syncId});
    if (!query)
        return std::nullopt;
    Finished done(query);
    return query->next() ? query->value(0).toLongLong() : 0;
}

bool AccountStore::recordSync(qint64 userId, const QString &syncId, qint64 total, qint64 atMs)
{
    return write("recording a click sync",
                 QStringLiteral("INSERT INTO click_syncs (user_id, sync_id, total, updated_ms)"
                                " VALUES (?, ?, ?, ?) ON CONFLICT (user_id, sync_id) DO UPDATE"
                                " SET total = excluded.total, updated_ms = excluded.updated_ms"),
                 {userId, syncId, total, atMs});
}

bool AccountStore::forgetSyncsBefore(qint64 userId, qint64 beforeMs)
{
    return write("forgetting old click syncs",
                 QStringLiteral("DELETE FROM click_syncs WHERE user_id = ? AND updated_ms < ?"),
                 {userId, beforeMs});
}

bool AccountStore::creditClicks(qint64 userId, qint64 clicks, qint64 atMs)
{
    return write("crediting clicks",
                 QStringLiteral("UPDATE users SET clicks = clicks + ?,"
                                " lifetime_clicks = lifetime_clicks + ?, last_click_ms = ?"
                                " WHERE id = ?"),
                 {clicks, clicks, atMs, userId});
}

bool AccountStore::exchangeClicks(qint64 userId, qint64 clicks, qint64 gold)
{
    return write(
        "exchanging clicks",
        QStringLiteral("UPDATE users SET clicks = clicks - ?, gold = gold + ? WHERE id = ?"),
        {clicks, gold, userId});
}

bool AccountStore::depositClicks(qint64 userId, qint64 clicks, qint64 yuan)
{
    return write("depositing clicks",
                 QStringLiteral("UPDATE users SET clicks = clicks - ?,"
                                " bank_balance = bank_balance + ? WHERE id = ?"),
                 {clicks, yuan, userId});
}

std::optional<bool> AccountStore::ownsEffect(qint64 userId, qint64 effectId)
{
    QSqlQuery *query =
        run("looking up an owned effect",
            QStringLiteral("SELECT 1 FROM owned_effects WHERE user_id = ? AND effect_id = ?"),
            {userId, effectId});
    if (!query)
        return std::nullopt;
    Finished done(query);
    return query->next();
}

bool AccountStore::buyEffect(qint64 userId, qint64 effectId, qint64 price, qint64 atMs)
{
    return write("paying for an effect",
                 QStringLiteral("UPDATE users SET gold = gold - ? WHERE id = ?"),
                 {price, userId}) &&
           write("granting an effect",
                 QStringLiteral(
                     "INSERT INTO owned_effects (user_id, effect_id, bought_ms) VALUES (?, ?, ?)"),
                 {userId, effectId, atMs});
}

std::optional<QList<qint64>> AccountStore::ownedEffects(qint64 userId)
{
    QSqlQuery *query = run(
        "listing owned effects",
        QStringLiteral("SELECT effect_id FROM owned_effects WHERE user_id = ? ORDER BY effect_id"),
        {userId});
    if (!query)
        return std::nullopt;
    Finished done(query);
    QList<qint64> ids;
    while (query->next())
        ids.append(query->value(0).toLongLong());
    return ids;
}

std::optional<QList<AccountStore::RankingRow>> AccountStore::ranking(qint64 limit)
{
    QSqlQuery *query = run("reading the ranking",
                           QStringLiteral("SELECT username, lifetime_clicks FROM users"
                                          " ORDER BY lifetime_clicks DESC, username ASC LIMIT ?"),
                           {limit});
    if (!query)
        return std::nullopt;
    Finished done(query);
    QList<RankingRow> rows;
    while (query->next())
        rows.append(RankingRow{query->value(0).toString(), query->value(1).toLongLong()});
    return rows;
}

std::optional<qint64> AccountStore::lockedUntil(const QString &firstKey, const QString &secondKey)
{
    QSqlQuery *query = run("reading the login throttle",
                           QStringLiteral("SELECT MAX(locked_until_ms) FROM login_locks"
                                          " WHERE throttle_key IN (?, ?)"),
                           {firstKey, secondKey});
    if (!query)
        return std::nullopt;
    Finished done(query);
    return query->next() ? query->value(0).toLongLong() : 0;
}

bool AccountStore::lockThrottleKey(const QString &key)
{
    const QString statement = m_db.keyLockStatement();
    if (statement.isEmpty())
        return true; // the transaction holds the whole database
    return write("taking a login throttle key", statement, {key});
}

std::optional<qint64> AccountStore::addLoginFailure(const QString &key, qint64 nowMs,
                                                    qint64 sinceMs)
{
    // Failures "from the future" go too: the clock was set back.
    if (!write("forgetting old login failures",
               QStringLiteral("DELETE FROM login_failures WHERE throttle_key = ?"
                              " AND (at_ms < ? OR at_ms > ?)"),
               {key, sinceMs, nowMs}) ||
        !write("recording a login failure",
               QStringLiteral("INSERT INTO login_failures (throttle_key, at_ms) VALUES (?, ?)"),
               {key, nowMs}))
        return std::nullopt;
    QSqlQuery *count =
        run("counting login failures",
            QStringLiteral("SELECT COUNT(*) FROM login_failures WHERE throttle_key = ?"), {key});
    if (!count)
        return std::nullopt;
    Finished done(count);
    return count->next() ? count->value(0).toLongLong() : 0;
}

bool AccountStore::lockLogins(const QString &key, qint64 untilMs)
{
    return write("locking logins",
                 QStringLiteral("INSERT INTO login_locks (throttle_key, locked_until_ms)"
                                " VALUES (?, ?) ON CONFLICT (throttle_key) DO UPDATE"
                                " SET locked_until_ms = excluded.locked_until_ms"),
                 {key, untilMs}) &&
           clearLoginFailures(key);
}

bool AccountStore::clearLoginFailures(const QString &key)
{
    return write("clearing login failures",
                 QStringLiteral("DELETE FROM login_failures WHERE throttle_key = ?"), {key});
}

bool AccountStore::forgetLoginFailuresBefore(qint64 beforeMs)
{
    return write("forgetting old login failures",
                 QStringLiteral("DELETE FROM login_failures WHERE at_ms < ?"), {beforeMs}) &&
           write("forgetting old login locks",
                 QStringLiteral("DELETE FROM login_locks WHERE locked_until_ms < ?"), {beforeMs});
}
