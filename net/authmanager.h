#pragma once

#include <QJsonObject>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>

// The player's session: token and identity (kept in the settings store across runs) and the
// last figures the server reported (memory only).
class AuthManager : public QObject
{
    Q_OBJECT

public:
    explicit AuthManager(QObject *parent = nullptr);

    bool isLoggedIn() const { return m_loggedIn; }
    bool hasToken() const { return !m_token.isEmpty(); }
    QString username() const { return m_username; }
    QString token() const { return m_token; }
    QString userId() const { return m_userId; }
    QString balance() const { return m_balance; }
    // Counts are 64-bit: long-time players pass 2^31 clicks.
    qint64 gold() const { return m_gold; }
    qint64 clicks() const { return m_clicks; }

    // Reads "auth/token" from the store now, not the in-memory token.
    QString savedToken() const;

    void handleLoginResponse(const QJsonObject &data);
    void updateStats(qint64 clicks, qint64 gold, const QString &balance);
    void updateClicksAndGold(qint64 clicks, qint64 gold);
    void setUsername(const QString &name);
    void setToken(const QString &token);
    void logout();
    // The server no longer accepts the token: logs out, then tells tokenExpired.
    void expireSession();

    void saveSession();
    void loadSession();

    void clearSavedSession();
    void setValue(const QString &key, const QVariant &value);
    QVariant value(const QString &key, const QVariant &defaultValue = QVariant()) const;

signals:
    void loginSuccess(const QString &username);
    void logoutSuccess();
    void tokenExpired();

private:
    QString m_username;
    QString m_token;
    QString m_userId;
    QString m_balance = QStringLiteral("0");
    qint64 m_gold = 0;
    qint64 m_clicks = 0;
    bool m_loggedIn = false;
    mutable QSettings m_settings;
};
