#include "loginservice.h"

#include "accountstore.h"
#include "gamedatabase.h"
#include "gameservice.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonObject>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QThread>

#include <memory>

namespace {

const char kWrongCredentials[] = "用户名或密码错误";
const int kTokenBytes = 32;

QString newToken()
{
    quint32 words[kTokenBytes / sizeof(quint32)];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words), sizeof(words)).toHex());
}

} // namespace

LoginService::LoginService(AccountStore &store, const Settings &settings, Clock clock)
    : m_store(store), m_settings(settings), m_clock(std::move(clock)), m_throttle(store)
{
    // One core stays free for the event loop, which serves every other request.
    const int threads = m_settings.passwordThreads > 0 ? m_settings.passwordThreads
                                                       : qMax(1, QThread::idealThreadCount() - 1);
    m_passwordPool.setMaxThreadCount(threads);
}

LoginService::~LoginService()
{
    m_passwordPool.waitForDone();
}

qint64 LoginService::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

QString LoginService::tokenHash(const QString &token)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

ServiceResult LoginService::busy()
{
    return ServiceResult::refused(QStringLiteral("服务器繁忙，请稍后再试"));
}

ServiceResult LoginService::login(const QString &name, const QString &password,
                                  const QString &address)
{
    LoginAttempt attempt;
    if (const auto answer = beginLogin(name, password, address, &attempt))
        return *answer;
    return finishLogin(attempt, checkPassword(attempt, m_settings.passwordCost));
}

void LoginService::loginAsync(const QString &name, const QString &password, const QString &address,
                              LoginDone done)
{
    if (m_waiting >= m_settings.maxWaitingLogins) {
        answerLater(done, busy());
        return;
    }
    ++m_waiting;
    const auto queue = m_loginQueues.find(name);
    if (queue != m_loginQueues.end()) {
        queue->append(QueuedLogin{password, address, std::move(done)});
        return;
    }
    m_loginQueues.insert(name, {QueuedLogin{password, address, std::move(done)}});
    startQueuedLogin(name);
}

void LoginService::answerLater(const LoginDone &done, const ServiceResult &result)
{
    QMetaObject::invokeMethod(
        &m_replyContext,
        [done, result] {
            if (done)
                done(result);
        },
        Qt::QueuedConnection);
}

// The first entry of a name's queue is the attempt being worked on; it leaves the queue when
// its answer is handed out.
void LoginService::startQueuedLogin(const QString &name)
{
    const auto queue = m_loginQueues.find(name);
    if (queue == m_loginQueues.end())
        return;
    if (queue->isEmpty()) {
        m_loginQueues.erase(queue);
        return;
    }
    auto attempt = std::make_shared<LoginAttempt>();
    const QueuedLogin &first = queue->first();
    if (const auto answer = beginLogin(name, first.password, first.address, attempt.get())) {
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

void LoginService::completeLogin(const QString &name, const ServiceResult &result)
{
    const auto queue = m_loginQueues.find(name);
    if (queue == m_loginQueues.end() || queue->isEmpty())
        return;
    const LoginDone done = queue->takeFirst().done;
    --m_waiting;
    startQueuedLogin(name);
    if (done)
        done(result);
}

std::optional<ServiceResult> LoginService::beginLogin(const QString &name, const QString &password,
                                                      const QString &address, LoginAttempt *attempt)
{
    // No such name can exist, and a database server may not take it (a NUL) as a key.
    if (!GameService::isValidUsername(name) || !GameService::isValidPassword(password))
        return ServiceResult::refused(QString::fromUtf8(kWrongCredentials));
    const auto locked = m_throttle.lockedFor(name, address, now());
    if (!locked)
        return ServiceResult::failed();
    if (*locked > 0) {
        return ServiceResult::refused(
            QStringLiteral("登录失败次数过多，请在 %1 秒后再试").arg((*locked + 999) / 1000));
    }

    attempt->name = name;
    attempt->password = password;
    attempt->address = address;
    const auto found = m_store.credentials(name);
    if (!found)
        return ServiceResult::failed();
    attempt->userId = found->userId;
    attempt->storedHash = found->passwordHash;
    return std::nullopt;
}

LoginService::PasswordCheck LoginService::checkPassword(const LoginAttempt &attempt,
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

ServiceResult LoginService::finishLogin(const LoginAttempt &attempt, const PasswordCheck &check)
{
    const qint64 at = now();
    if (!check.matches) {
        // Unrecorded, the guess would go uncounted: refuse it as a storage failure instead.
        if (!m_throttle.recordFailure(attempt.name, attempt.address, at))
            return ServiceResult::failed();
        return ServiceResult::refused(QString::fromUtf8(kWrongCredentials));
    }
    m_throttle.recordSuccess(attempt.name, attempt.address);

    AccountStore::Account account;
    const QString token = newToken();
    const qint64 expires = at + m_settings.tokenLifetimeMs;
    GameDatabase::Transaction transaction(m_store.database(), "login");
    if (!transaction.isActive() ||
        !m_store.openSession(tokenHash(token), attempt.userId, at, expires))
        return ServiceResult::failed();
    if (!check.newHash.isEmpty() &&
        !m_store.replacePasswordHash(attempt.userId, check.newHash, attempt.storedHash))
        return ServiceResult::failed();
    if (m_store.account(attempt.userId, &account) != AccountStore::Lookup::Found ||
        !transaction.commit())
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
