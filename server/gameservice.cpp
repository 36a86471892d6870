#include "gameservice.h"

#include <optional>

#include "effectcatalog.h"
#include "gamedatabase.h"
#include "passwordhasher.h"
#include "requestjournal.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <cmath>
#include <cstdio>

namespace {

const char kWrongCredentials[] = "用户名或密码错误";
const int kTokenBytes = 32;
const int kMaxTokenLength = 256;
const int kMaxNameLength = 32;
const int kMaxPasswordLength = 1024;

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

void logSqlError(const char *what, const QSqlQuery &query)
{
    GameDatabase::reportFailure(QString::fromLatin1(what), query.lastError());
}

Lookup loadAccount(const QSqlDatabase &db, qint64 userId, Account *account)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT id, username, clicks, lifetime_clicks, gold, bank_balance,"
                                 " last_click_ms FROM users WHERE id = ?"));
    query.addBindValue(userId);
    if (!query.exec()) {
        logSqlError("reading an account", query);
        return Lookup::Failed;
    }
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

// Runs a prepared statement with its values bound in order; logs a failure.
bool run(QSqlQuery &query, const char *what, std::initializer_list<QVariant> values)
{
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        logSqlError(what, query);
        return false;
    }
    return true;
}

QString tokenHash(const QString &token)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString newToken()
{
    quint32 words[kTokenBytes / sizeof(quint32)];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words), sizeof(words)).toHex());
}

ServiceResult accountGone()
{
    return ServiceResult::unauthorized(QStringLiteral("账户不存在，请重新登录"));
}

// Loads the account to work on (inside a transaction that must have started, for changes); the
// answer to give when that fails.
std::optional<ServiceResult> openAccount(bool transactionStarted, const QSqlDatabase &db,
                                         qint64 userId, Account *account)
{
    if (!transactionStarted)
        return ServiceResult::failed();
    switch (loadAccount(db, userId, account)) {
    case Lookup::Failed:
        return ServiceResult::failed();
    case Lookup::Missing:
        return accountGone();
    case Lookup::Found:
        break;
    }
    return std::nullopt;
}

QString notEnoughClicks(qint64 clicks)
{
    return QStringLiteral("点击数不足，当前可用点击数为 %1").arg(clicks);
}

} // namespace

ServiceResult ServiceResult::ok(const QJsonObject &data)
{
    ServiceResult result;
    result.data = data;
    return result;
}

ServiceResult ServiceResult::refused(const QString &message)
{
    ServiceResult result;
    result.status = Status::Refused;
    result.message = message;
    return result;
}

ServiceResult ServiceResult::unauthorized(const QString &message)
{
    ServiceResult result;
    result.status = Status::Unauthorized;
    result.message = message;
    return result;
}

ServiceResult ServiceResult::conflict(const QString &message)
{
    ServiceResult result;
    result.status = Status::Conflict;
    result.message = message;
    return result;
}

ServiceResult ServiceResult::failed()
{
    ServiceResult result;
    result.status = Status::Failed;
    result.message = QStringLiteral("服务器内部错误，请稍后再试");
    return result;
}

GameService::GameService(GameDatabase &database, const EffectCatalog &catalog)
    : GameService(database, catalog, Settings())
{
}

GameService::GameService(GameDatabase &database, const EffectCatalog &catalog,
                         const Settings &settings, Clock clock)
    : m_db(database), m_catalog(catalog), m_settings(settings), m_clock(std::move(clock))
{
    // One core stays free for the event loop, which serves every other request.
    const int threads = m_settings.passwordThreads > 0 ? m_settings.passwordThreads
                                                       : qMax(1, QThread::idealThreadCount() - 1);
    m_passwordPool.setMaxThreadCount(threads);
}

GameService::~GameService()
{
    m_passwordPool.waitForDone();
}

qint64 GameService::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

bool GameService::isValidUsername(const QString &name)
{
    if (name.isEmpty() || !name.isValidUtf16())
        return false;
    const QList<uint> codePoints = name.toUcs4();
    if (codePoints.size() > kMaxNameLength)
        return false;
    if (QChar::isSpace(codePoints.first()) || QChar::isSpace(codePoints.last()))
        return false;
    for (const uint c : codePoints) {
        switch (QChar::category(char32_t(c))) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_NotAssigned:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return false;
        default:
            break;
        }
    }
    return true;
}

bool GameService::isValidPassword(const QString &password)
{
    return !password.isEmpty() && password.size() <= kMaxPasswordLength;
}

GameService::AddUserResult GameService::addUser(const QString &name, const QString &password,
                                                qint64 clicks)
{
    if (!isValidUsername(name))
        return AddUserResult::InvalidName;
    if (!isValidPassword(password))
        return AddUserResult::InvalidPassword;
    if (clicks < 0)
        return AddUserResult::Failed;
    const QString hash = PasswordHasher::hash(password, m_settings.passwordCost);
    if (hash.isEmpty())
        return AddUserResult::Failed;

    GameDatabase::Transaction transaction(m_db, "add-user");
    if (!transaction.isActive())
        return AddUserResult::Failed;
    {
        QSqlQuery existing(m_db.connection());
        existing.prepare(QStringLiteral("SELECT 1 FROM users WHERE username = ?"));
        if (!run(existing, "looking up an account name", {name}))
            return AddUserResult::Failed;
        if (existing.next())
            return AddUserResult::Exists;
    }
    const qint64 at = now();
    QSqlQuery insert(m_db.connection());
    insert.prepare(QStringLiteral("INSERT INTO users (username, password_hash, clicks,"
                                  " last_click_ms, created_ms) VALUES (?, ?, ?, ?, ?)"));
    if (!run(insert, "adding an account", {name, hash, clicks, at, at}))
        return AddUserResult::Failed;
    return transaction.commit() ? AddUserResult::Added : AddUserResult::Failed;
}

ServiceResult GameService::login(const QString &name, const QString &password)
{
    LoginAttempt attempt;
    if (const auto answer = beginLogin(name, password, &attempt))
        return *answer;
    return finishLogin(attempt, checkPassword(attempt, m_settings.passwordCost));
}

void GameService::loginAsync(const QString &name, const QString &password, LoginDone done)
{
    const auto queue = m_loginQueues.find(name);
    if (queue != m_loginQueues.end()) {
        queue->append(QueuedLogin{password, std::move(done)});
        return;
    }
    m_loginQueues.insert(name, {QueuedLogin{password, std::move(done)}});
    startQueuedLogin(name);
}

// The first entry of a name's queue is the attempt being worked on; it leaves the queue when
// its answer is handed out.
void GameService::startQueuedLogin(const QString &name)
{
    const auto queue = m_loginQueues.find(name);
    if (queue == m_loginQueues.end())
        return;
    if (queue->isEmpty()) {
        m_loginQueues.erase(queue);
        return;
    }
    auto attempt = std::make_shared<LoginAttempt>();
    if (const auto answer = beginLogin(name, queue->first().password, attempt.get())) {
        QMetaObject::invokeMethod(
            &m_replyContext, [this, name, result = *answer] { completeLogin(name, result); },
            Qt::QueuedConnection);
        return;
    }
    const PasswordHasher::Cost cost = m_settings.passwordCost;
    QObject *context = &m_replyContext;
    m_passwordPool.start([this, context, name, attempt, cost] {
        const PasswordCheck check = checkPassword(*attempt, cost);
        QMetaObject::invokeMethod(
            context,
            [this, name, attempt, check] { completeLogin(name, finishLogin(*attempt, check)); },
            Qt::QueuedConnection);
    });
}

void GameService::completeLogin(const QString &name, const ServiceResult &result)
{
    const auto queue = m_loginQueues.find(name);
    if (queue == m_loginQueues.end() || queue->isEmpty())
        return;
    const LoginDone done = queue->takeFirst().done;
    startQueuedLogin(name);
    if (done)
        done(result);
}

std::optional<ServiceResult> GameService::beginLogin(const QString &name, const QString &password,
                                                     LoginAttempt *attempt)
{
    const qint64 locked = m_throttle.lockedFor(name, now());
    if (locked > 0) {
        return ServiceResult::refused(
            QStringLiteral("登录失败次数过多，请在 %1 秒后再试").arg((locked + 999) / 1000));
    }
    if (!isValidUsername(name) || !isValidPassword(password))
        return ServiceResult::refused(QString::fromUtf8(kWrongCredentials));

    attempt->name = name;
    attempt->password = password;
    QSqlQuery query(m_db.connection());
    query.prepare(QStringLiteral("SELECT id, password_hash FROM users WHERE username = ?"));
    if (!run(query, "looking up an account for login", {name}))
        return ServiceResult::failed();
    if (query.next()) {
        attempt->userId = query.value(0).toLongLong();
        attempt->storedHash = query.value(1).toString();
    }
    return std::nullopt;
}

GameService::PasswordCheck GameService::checkPassword(const LoginAttempt &attempt,
                                                      const PasswordHasher::Cost &cost)
{
    // Every failure costs one key of each form, whatever form the account's hash has, so that
    // the time taken tells neither whether the name exists nor whether its hash is an old one.
    PasswordCheck check;
    if (attempt.userId == 0) {
        PasswordHasher::pbkdf2Hash(attempt.password);
        PasswordHasher::hash(attempt.password, cost);
        return check;
    }
    const bool argon2 = attempt.storedHash.startsWith(QLatin1String("$argon2id$"));
    check.matches = PasswordHasher::verify(attempt.password, attempt.storedHash);
    if (!check.matches) {
        if (argon2)
            PasswordHasher::pbkdf2Hash(attempt.password);
        else
            PasswordHasher::hash(attempt.password, cost);
    } else if (PasswordHasher::needsRehash(attempt.storedHash, cost)) {
        check.newHash = PasswordHasher::hash(attempt.password, cost);
    }
    return check;
}

ServiceResult GameService::finishLogin(const LoginAttempt &attempt, const PasswordCheck &check)
{
    const qint64 at = now();
    if (!check.matches) {
        m_throttle.recordFailure(attempt.name, at);
        return ServiceResult::refused(QString::fromUtf8(kWrongCredentials));
    }
    m_throttle.recordSuccess(attempt.name);

    Account account;
    account.id = attempt.userId;
    const QString token = newToken();
    const qint64 expires = at + m_settings.tokenLifetimeMs;
    GameDatabase::Transaction transaction(m_db, "login");
    if (!transaction.isActive())
        return ServiceResult::failed();
    {
        QSqlQuery purge(m_db.connection());
        purge.prepare(QStringLiteral("DELETE FROM sessions WHERE expires_ms <= ?"));
        QSqlQuery insert(m_db.connection());
        insert.prepare(QStringLiteral("INSERT INTO sessions (token_hash, user_id, created_ms,"
                                      " expires_ms) VALUES (?, ?, ?, ?)"));
        if (!run(purge, "removing expired sessions", {at}) ||
            !run(insert, "storing a session", {tokenHash(token), account.id, at, expires}))
            return ServiceResult::failed();
    }
    if (!check.newHash.isEmpty()) {
        // Only if nobody changed the password while this one was being checked.
        QSqlQuery upgrade(m_db.connection());
        upgrade.prepare(QStringLiteral(
            "UPDATE users SET password_hash = ? WHERE id = ? AND password_hash = ?"));
        if (!run(upgrade, "upgrading a password hash",
                 {check.newHash, account.id, attempt.storedHash}))
            return ServiceResult::failed();
    }
    const Lookup found = loadAccount(m_db.connection(), account.id, &account);
    if (found != Lookup::Found || !transaction.commit())
        return ServiceResult::failed();

    QJsonObject data;
    data.insert(QStringLiteral("username"), account.username);
    data.insert(QStringLiteral("token"), token);
    data.insert(QStringLiteral("user_id"), QString::number(account.id));
    data.insert(QStringLiteral("balance"), double(account.bankBalance));
    data.insert(QStringLiteral("gold"), account.gold);
    data.insert(QStringLiteral("clicks"), account.clicks);
    data.insert(QStringLiteral("total_clicks"), account.clicks);
    data.insert(QStringLiteral("lifetime_clicks"), account.lifetimeClicks);
    data.insert(QStringLiteral("expires_at"),
                QDateTime::fromMSecsSinceEpoch(expires, Qt::UTC).toString(Qt::ISODate));
    return ServiceResult::ok(data);
}

qint64 GameService::userForToken(const QString &token)
{
    if (token.isEmpty() || token.size() > kMaxTokenLength)
        return 0;
    QSqlQuery query(m_db.connection());
    query.prepare(
        QStringLiteral("SELECT user_id FROM sessions WHERE token_hash = ? AND expires_ms > ?"));
    if (!run(query, "checking a session", {tokenHash(token), now()}))
        return -1;
    return query.next() ? query.value(0).toLongLong() : 0;
}

ServiceResult GameService::click(qint64 userId, qint64 count, const QString &syncId,
                                 qint64 syncTotal)
{
    if (count < 1)
        return ServiceResult::refused(QStringLiteral("点击数必须是正整数"));
    if (!syncId.isEmpty() && syncTotal < 1)
        return ServiceResult::refused(QStringLiteral("同步总数必须是正整数"));
    const qint64 at = now();
    GameDatabase::Transaction transaction(m_db, "click");
    Account account;
    if (const auto answer =
            openAccount(transaction.isActive(), m_db.connection(), userId, &account))
        return *answer;

    // The clicks this batch brings that the server has not seen yet. A batch taken while an
    // earlier one was still on its way may arrive first; it then credits the earlier one's clicks
    // too, and the earlier one, arriving later, brings nothing new.
    qint64 fresh = count;
    if (!syncId.isEmpty()) {
        QSqlQuery known(m_db.connection());
        known.prepare(
            QStringLiteral("SELECT total FROM click_syncs WHERE user_id = ? AND sync_id = ?"));
        if (!run(known, "reading a click sync", {userId, syncId}))
            return ServiceResult::failed();
        const qint64 seen = known.next() ? known.value(0).toLongLong() : 0;
        fresh = qMax<qint64>(0, syncTotal - seen);
        if (syncTotal > seen) {
            QSqlQuery remember(m_db.connection());
            remember.prepare(QStringLiteral(
                "INSERT INTO click_syncs (user_id, sync_id, total, updated_ms) VALUES (?, ?, ?, ?)"
                " ON CONFLICT (user_id, sync_id) DO UPDATE SET total = excluded.total,"
                " updated_ms = excluded.updated_ms"));
            if (!run(remember, "recording a click sync", {userId, syncId, syncTotal, at}))
                return ServiceResult::failed();
        }
        // A sync session lives as long as one game window, so as long as its login at most.
        QSqlQuery forget(m_db.connection());
        forget.prepare(
            QStringLiteral("DELETE FROM click_syncs WHERE user_id = ? AND updated_ms < ?"));
        if (!run(forget, "forgetting old click syncs", {userId, at - m_settings.tokenLifetimeMs}))
            return ServiceResult::failed();
    }

    qint64 allowance = m_settings.maxBatchAllowance;
    if (m_settings.clickRate > 0) {
        const qint64 elapsedMs = qMax<qint64>(0, at - account.lastClickMs);
        const double earned = std::floor(m_settings.clickRate * double(elapsedMs) / 1000.0);
        if (earned < double(allowance))
            allowance = qMax(m_settings.minBatchAllowance, qint64(earned));
    }
    const qint64 credited = qMin(fresh, allowance);
    if (credited > 0) {
        QSqlQuery update(m_db.connection());
        update.prepare(QStringLiteral("UPDATE users SET clicks = clicks + ?,"
                                      " lifetime_clicks = lifetime_clicks + ?, last_click_ms = ?"
                                      " WHERE id = ?"));
        if (!run(update, "crediting clicks", {credited, credited, at, userId}))
            return ServiceResult::failed();
    }
    if (!transaction.commit())
        return ServiceResult::failed();

    QJsonObject data;
    data.insert(QStringLiteral("total_clicks"), account.clicks + credited);
    data.insert(QStringLiteral("gold"), account.gold);
    data.insert(QStringLiteral("credited"), credited);
    data.insert(QStringLiteral("lifetime_clicks"), account.lifetimeClicks + credited);
    return ServiceResult::ok(data);
}

ServiceResult GameService::applyOnce(qint64 userId, const QString &requestId, const QString &action,
                                     const std::function<ServiceResult()> &apply)
{
    const QByteArray actionName = action.toUtf8(); // named in storage failure lines
    GameDatabase::Transaction transaction(m_db, actionName.constData());
    if (!transaction.isActive())
        return ServiceResult::failed();
    RequestJournal journal(m_db.connection());
    if (!requestId.isEmpty()) {
        RequestJournal::Reply stored;
        switch (journal.find(userId, requestId, action, &stored)) {
        case RequestJournal::Found::Failed:
            return ServiceResult::failed();
        case RequestJournal::Found::Conflict:
            return ServiceResult::conflict(QStringLiteral(
                "该请求编号 (request_id) 已用于另一项操作或不同的数量，本次请求未执行"));
        case RequestJournal::Found::Same:
            return stored.success ? ServiceResult::ok(stored.data)
                                  : ServiceResult::refused(stored.message);
        case RequestJournal::Found::Nothing:
            break;
        }
    }
    const ServiceResult result = apply();
    // Refusals come before any write, so committing one stores only its reply.
    const bool answered = result.status == ServiceResult::Status::Ok ||
                          result.status == ServiceResult::Status::Refused;
    if (!answered)
        return result;
    if (!requestId.isEmpty()) {
        RequestJournal::Reply reply;
        reply.success = result.status == ServiceResult::Status::Ok;
        reply.data = result.data;
        reply.message = result.message;
        if (!journal.store(userId, requestId, action, reply, now()))
            return ServiceResult::failed();
    } else if (result.status != ServiceResult::Status::Ok) {
        return result;
    }
    return transaction.commit() ? result : ServiceResult::failed();
}

ServiceResult GameService::exchange(qint64 userId, qint64 clicksToExchange,
                                    const QString &requestId)
{
    return applyOnce(userId, requestId, QStringLiteral("exchange %1").arg(clicksToExchange),
                     [&] { return exchangeNow(userId, clicksToExchange); });
}

ServiceResult GameService::deposit(qint64 userId, qint64 clicksAmount, const QString &requestId)
{
    return applyOnce(userId, requestId, QStringLiteral("deposit %1").arg(clicksAmount),
                     [&] { return depositNow(userId, clicksAmount); });
}

ServiceResult GameService::buyEffect(qint64 userId, qint64 effectId, const QString &requestId)
{
    return applyOnce(userId, requestId, QStringLiteral("buy_effect %1").arg(effectId),
                     [&] { return buyEffectNow(userId, effectId); });
}

// The three below run inside applyOnce()'s transaction.
ServiceResult GameService::exchangeNow(qint64 userId, qint64 clicksToExchange)
{
    if (clicksToExchange < kClicksPerGold)
        return ServiceResult::refused(
            QStringLiteral("至少需要 %1 次点击才能兑换 1 金币").arg(kClicksPerGold));
    Account account;
    if (const auto answer = openAccount(true, m_db.connection(), userId, &account))
        return *answer;
    if (clicksToExchange > account.clicks)
        return ServiceResult::refused(notEnoughClicks(account.clicks));

    // Only whole hundreds are exchanged; the rest stays with the player.
    const qint64 goldGained = clicksToExchange / kClicksPerGold;
    const qint64 clicksUsed = goldGained * kClicksPerGold;
    {
        QSqlQuery update(m_db.connection());
        update.prepare(
            QStringLiteral("UPDATE users SET clicks = clicks - ?, gold = gold + ? WHERE id = ?"));
        if (!run(update, "exchanging clicks", {clicksUsed, goldGained, userId}))
            return ServiceResult::failed();
    }
    QJsonObject data;
    data.insert(QStringLiteral("new_gold"), account.gold + goldGained);
    data.insert(QStringLiteral("remaining_clicks"), account.clicks - clicksUsed);
    data.insert(QStringLiteral("gold_gained"), goldGained);
    data.insert(QStringLiteral("clicks_used"), clicksUsed);
    return ServiceResult::ok(data);
}

ServiceResult GameService::depositNow(qint64 userId, qint64 clicksAmount)
{
    if (clicksAmount < 1)
        return ServiceResult::refused(QStringLiteral("存入的点击数必须大于 0"));
    Account account;
    if (const auto answer = openAccount(true, m_db.connection(), userId, &account))
        return *answer;
    if (clicksAmount > account.clicks)
        return ServiceResult::refused(notEnoughClicks(account.clicks));

    const qint64 yuan = clicksAmount * kYuanPerClick;
    {
        QSqlQuery update(m_db.connection());
        update.prepare(QStringLiteral(
            "UPDATE users SET clicks = clicks - ?, bank_balance = bank_balance + ? WHERE id = ?"));
        if (!run(update, "depositing clicks", {clicksAmount, yuan, userId}))
            return ServiceResult::failed();
    }
    QJsonObject data;
    data.insert(QStringLiteral("new_bank_balance"), double(account.bankBalance + yuan));
    data.insert(QStringLiteral("remaining_clicks"), account.clicks - clicksAmount);
    data.insert(QStringLiteral("yuan_converted"), yuan);
    return ServiceResult::ok(data);
}

ServiceResult GameService::buyEffectNow(qint64 userId, qint64 effectId)
{
    const EffectEntry *effect = m_catalog.find(effectId);
    if (!effect)
        return ServiceResult::refused(QStringLiteral("特效不存在"));
    Account account;
    if (const auto answer = openAccount(true, m_db.connection(), userId, &account))
        return *answer;
    {
        QSqlQuery owned(m_db.connection());
        owned.prepare(
            QStringLiteral("SELECT 1 FROM owned_effects WHERE user_id = ? AND effect_id = ?"));
        if (!run(owned, "looking up an owned effect", {userId, effect->id}))
            return ServiceResult::failed();
        if (owned.next())
            return ServiceResult::refused(QStringLiteral("您已经拥有此特效"));
    }
    if (account.gold < effect->price)
        return ServiceResult::refused(QStringLiteral("金币不足"));
    {
        QSqlQuery pay(m_db.connection());
        pay.prepare(QStringLiteral("UPDATE users SET gold = gold - ? WHERE id = ?"));
        QSqlQuery grant(m_db.connection());
        grant.prepare(QStringLiteral(
            "INSERT INTO owned_effects (user_id, effect_id, bought_ms) VALUES (?, ?, ?)"));
        if (!run(pay, "paying for an effect", {effect->price, userId}) ||
            !run(grant, "granting an effect", {userId, effect->id, now()}))
            return ServiceResult::failed();
    }
    QJsonObject data;
    data.insert(QStringLiteral("new_gold"), account.gold - effect->price);
    data.insert(QStringLiteral("effect_name"), effect->name);
    data.insert(QStringLiteral("effect_id"), effect->id);
    data.insert(QStringLiteral("css_class"), effect->cssClass);
    return ServiceResult::ok(data);
}

ServiceResult GameService::stats(qint64 userId)
{
    Account account;
    if (const auto answer = openAccount(true, m_db.connection(), userId, &account))
        return *answer;
    QJsonArray effects;
    {
        QSqlQuery owned(m_db.connection());
        owned.prepare(QStringLiteral(
            "SELECT effect_id FROM owned_effects WHERE user_id = ? ORDER BY effect_id"));
        if (!run(owned, "listing owned effects", {userId}))
            return ServiceResult::failed();
        while (owned.next()) {
            const EffectEntry *effect = m_catalog.find(owned.value(0).toLongLong());
            if (!effect)
                continue; // dropped from the catalogue since it was bought
            QJsonObject item;
            item.insert(QStringLiteral("id"), effect->id);
            item.insert(QStringLiteral("css_class"), effect->cssClass);
            item.insert(QStringLiteral("name"), effect->name);
            effects.append(item);
        }
    }
    QJsonObject data;
    data.insert(QStringLiteral("username"), account.username);
    data.insert(QStringLiteral("user_id"), QString::number(account.id));
    data.insert(QStringLiteral("total_clicks"), account.clicks);
    data.insert(QStringLiteral("lifetime_clicks"), account.lifetimeClicks);
    data.insert(QStringLiteral("gold"), account.gold);
    data.insert(QStringLiteral("balance"), double(account.bankBalance));
    data.insert(QStringLiteral("effects"), effects);
    return ServiceResult::ok(data);
}

ServiceResult GameService::ranking(qint64 limit)
{
    limit = qBound(qint64(1), limit, qint64(kMaxRankingLimit));
    QSqlQuery query(m_db.connection());
    query.prepare(QStringLiteral("SELECT username, lifetime_clicks FROM users"
                                 " ORDER BY lifetime_clicks DESC, username ASC LIMIT ?"));
    if (!run(query, "reading the ranking", {limit}))
        return ServiceResult::failed();
    QJsonArray rankings;
    while (query.next()) {
        QJsonObject item;
        item.insert(QStringLiteral("rank"), int(rankings.size()) + 1);
        item.insert(QStringLiteral("username"), query.value(0).toString());
        item.insert(QStringLiteral("total_clicks"), query.value(1).toLongLong());
        rankings.append(item);
    }
    QJsonObject data;
    data.insert(QStringLiteral("rankings"), rankings);
    return ServiceResult::ok(data);
}

ServiceResult GameService::effectList(qint64 userId)
{
    Account account;
    if (const auto answer = openAccount(true, m_db.connection(), userId, &account))
        return *answer;
    QSet<qint64> owned;
    {
        QSqlQuery query(m_db.connection());
        query.prepare(QStringLiteral("SELECT effect_id FROM owned_effects WHERE user_id = ?"));
        if (!run(query, "listing owned effects", {userId}))
            return ServiceResult::failed();
        while (query.next())
            owned.insert(query.value(0).toLongLong());
    }
    QJsonArray effects;
    for (const EffectEntry &effect : m_catalog.effects()) {
        QJsonObject item;
        item.insert(QStringLiteral("id"), effect.id);
        item.insert(QStringLiteral("css_class"), effect.cssClass);
        item.insert(QStringLiteral("name"), effect.name);
        item.insert(QStringLiteral("price"), effect.price);
        item.insert(QStringLiteral("owned"), owned.contains(effect.id));
        effects.append(item);
    }
    QJsonObject data;
    data.insert(QStringLiteral("effects"), effects);
    return ServiceResult::ok(data);
}
