#pragma once

#include "loginthrottle.h"
#include "passwordhasher.h"
#include "serviceresult.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <optional>

class AccountStore;

// Logins: the throttle, the password check and the new session. Password checks are slow on
// purpose; loginAsync() runs them on a small pool of worker threads so that the thread serving
// clicks never waits for one, and refuses at once when too many are waiting already, instead of
// letting them wait past the client's timeout.
class LoginService
{
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch

    struct Settings
    {
        PasswordHasher::Cost passwordCost = PasswordHasher::kDefaultCost; // of upgraded hashes
        int passwordThreads = 0; // 0: all cores but one, at least one
        qint64 tokenLifetimeMs = 30LL * 24 * 60 * 60 * 1000;
        // Logins accepted and not yet answered, over all names.
        int maxWaitingLogins = 64;
    };

    LoginService(AccountStore &store, const Settings &settings, Clock clock);
    ~LoginService(); // waits for password checks still running

    // `address`: the client's, for the throttle; empty when unknown.
    ServiceResult login(const QString &name, const QString &password, const QString &address);
    // The same, with the password check on a worker thread; `done` runs later on the calling
    // thread, never before this returns. Attempts for one name run one after the other, so the
    // throttle sees each failure before the next guess is checked.
    using LoginDone = std::function<void(const ServiceResult &)>;
    void loginAsync(const QString &name, const QString &password, const QString &address,
                    LoginDone done);

    static ServiceResult busy();
    // What the sessions table keeps of a token: it never holds a usable token.
    static QString tokenHash(const QString &token);

private:
    struct LoginAttempt
    {
        QString name;
        QString password;
        QString address;
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
        QString address;
        LoginDone done;
    };

    qint64 now() const;
    // The answer when the attempt is over before its password is checked.
    std::optional<ServiceResult> beginLogin(const QString &name, const QString &password,
                                            const QString &address, LoginAttempt *attempt);
    // Thread-safe: touches nothing of this object.
    static PasswordCheck checkPassword(const LoginAttempt &attempt,
                                       const PasswordHasher::Cost &cost);
    ServiceResult finishLogin(const LoginAttempt &attempt, const PasswordCheck &check);
    void startQueuedLogin(const QString &name);
    void completeLogin(const QString &name, const ServiceResult &result);
    void answerLater(const LoginDone &done, const ServiceResult &result);

    AccountStore &m_store;
    Settings m_settings;
    Clock m_clock;
    LoginThrottle m_throttle;
    // Per name, the logins waiting for the one being checked; a name is here while one runs.
    QHash<QString, QList<QueuedLogin>> m_loginQueues;
    int m_waiting = 0;          // entries of m_loginQueues
    QObject m_replyContext;     // finished checks are handed back through its thread's event queue
    QThreadPool m_passwordPool; // last: destroyed, and so waited for, first
};
