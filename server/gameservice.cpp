#include "gameservice.h"

#include "effectcatalog.h"
#include "gamedatabase.h"
#include "passwordhasher.h"
#include "requestjournal.h"

#include <QDateTime>
#include <QJsonArray>
#include <QSet>

#include <cmath>
#include <optional>

namespace {

const int kMaxTokenLength = 256;
const int kMaxNameLength = 32;
const int kMaxPasswordLength = 1024;

using Account = AccountStore::Account;
using Lookup = AccountStore::Lookup;

ServiceResult accountGone()
{
    return ServiceResult::unauthorized(QStringLiteral("账户不存在，请重新登录"));
}

// Loads the account to work on (inside a transaction that must have started, for changes); the
// answer to give when that fails.
std::optional<ServiceResult> openAccount(bool transactionStarted, AccountStore &store,
                                         qint64 userId, Account *account, bool lock = false)
{
    if (!transactionStarted)
        return ServiceResult::failed();
    switch (store.account(userId, account, lock)) {
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

LoginService::Settings loginSettings(const GameService::Settings &settings)
{
    LoginService::Settings login;
    login.passwordCost = settings.passwordCost;
    login.passwordThreads = settings.passwordThreads;
    login.tokenLifetimeMs = settings.tokenLifetimeMs;
    login.maxWaitingLogins = settings.maxWaitingLogins;
    return login;
}

} // namespace

GameService::GameService(GameDatabase &database, const EffectCatalog &catalog)
    : GameService(database, catalog, Settings())
{
}

GameService::GameService(GameDatabase &database, const EffectCatalog &catalog,
                         const Settings &settings, Clock clock)
    : m_db(database), m_store(database), m_catalog(catalog), m_settings(settings),
      m_clock(std::move(clock)), m_logins(m_store, loginSettings(settings), m_clock)
{
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
    const auto exists = m_store.nameExists(name);
    if (!exists)
        return AddUserResult::Failed;
    if (*exists)
        return AddUserResult::Exists;
    if (!m_store.addAccount(name, hash, clicks, now()))
        return AddUserResult::Failed;
    return transaction.commit() ? AddUserResult::Added : AddUserResult::Failed;
}

ServiceResult GameService::login(const QString &name, const QString &password,
                                 const QString &address)
{
    return m_logins.login(name, password, address);
}

void GameService::loginAsync(const QString &name, const QString &password, LoginDone done)
{
    m_logins.loginAsync(name, password, QString(), std::move(done));
}

void GameService::loginAsync(const QString &name, const QString &password, const QString &address,
                             LoginDone done)
{
    m_logins.loginAsync(name, password, address, std::move(done));
}

qint64 GameService::userForToken(const QString &token)
{
    if (token.isEmpty() || token.size() > kMaxTokenLength)
        return 0;
    return m_store.sessionUser(LoginService::tokenHash(token), now()).value_or(-1);
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
    if (const auto answer = openAccount(transaction.isActive(), m_store, userId, &account, true))
        return *answer;

    // The clicks this batch brings that the server has not seen yet. A batch taken while an
    // earlier one was still on its way may arrive first; it then credits the earlier one's clicks
    // too, and the earlier one, arriving later, brings nothing new.
    qint64 fresh = count;
    if (!syncId.isEmpty()) {
        const auto seen = m_store.syncedTotal(userId, syncId);
        if (!seen)
            return ServiceResult::failed();
        fresh = qMax<qint64>(0, syncTotal - *seen);
        if (syncTotal > *seen && !m_store.recordSync(userId, syncId, syncTotal, at))
            return ServiceResult::failed();
        // A sync session lives as long as one game window, so as long as its login at most.
        if (!m_store.forgetSyncsBefore(userId, at - m_settings.tokenLifetimeMs))
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
    if (credited > 0 && !m_store.creditClicks(userId, credited, at))
        return ServiceResult::failed();
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
    // A repeat arriving at another server process waits here until this one has committed.
    if (!transaction.isActive() || !m_store.lockAccount(userId))
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
    if (const auto answer = openAccount(true, m_store, userId, &account))
        return *answer;
    if (clicksToExchange > account.clicks)
        return ServiceResult::refused(notEnoughClicks(account.clicks));

    // Only whole hundreds are exchanged; the rest stays with the player.
    const qint64 goldGained = clicksToExchange / kClicksPerGold;
    const qint64 clicksUsed = goldGained * kClicksPerGold;
    if (!m_store.exchangeClicks(userId, clicksUsed, goldGained))
        return ServiceResult::failed();
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
    if (const auto answer = openAccount(true, m_store, userId, &account))
        return *answer;
    if (clicksAmount > account.clicks)
        return ServiceResult::refused(notEnoughClicks(account.clicks));

    const qint64 yuan = clicksAmount * kYuanPerClick;
    if (!m_store.depositClicks(userId, clicksAmount, yuan))
        return ServiceResult::failed();
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
    if (const auto answer = openAccount(true, m_store, userId, &account))
        return *answer;
    const auto owned = m_store.ownsEffect(userId, effect->id);
    if (!owned)
        return ServiceResult::failed();
    if (*owned)
        return ServiceResult::refused(QStringLiteral("您已经拥有此特效"));
    if (account.gold < effect->price)
        return ServiceResult::refused(QStringLiteral("金币不足"));
    if (!m_store.buyEffect(userId, effect->id, effect->price, now()))
        return ServiceResult::failed();
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
    if (const auto answer = openAccount(true, m_store, userId, &account))
        return *answer;
    const auto owned = m_store.ownedEffects(userId);
    if (!owned)
        return ServiceResult::failed();
    QJsonArray effects;
    for (const qint64 id : *owned) {
        const EffectEntry *effect = m_catalog.find(id);
        if (!effect)
            continue; // dropped from the catalogue since it was bought
        QJsonObject item;
        item.insert(QStringLiteral("id"), effect->id);
        item.insert(QStringLiteral("css_class"), effect->cssClass);
        item.insert(QStringLiteral("name"), effect->name);
        effects.append(item);
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
    const auto rows = m_store.ranking(limit);
    if (!rows)
        return ServiceResult::failed();
    QJsonArray rankings;
    for (const AccountStore::RankingRow &row : *rows) {
        QJsonObject item;
        item.insert(QStringLiteral("rank"), int(rankings.size()) + 1);
        item.insert(QStringLiteral("username"), row.username);
        item.insert(QStringLiteral("total_clicks"), row.lifetimeClicks);
        rankings.append(item);
    }
    QJsonObject data;
    data.insert(QStringLiteral("rankings"), rankings);
    return ServiceResult::ok(data);
}

ServiceResult GameService::effectList(qint64 userId)
{
    Account account;
    if (const auto answer = openAccount(true, m_store, userId, &account))
        return *answer;
    const auto ownedIds = m_store.ownedEffects(userId);
    if (!ownedIds)
        return ServiceResult::failed();
    const QSet<qint64> owned(ownedIds->cbegin(), ownedIds->cend());
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
