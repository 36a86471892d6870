#include "authmanager.h"

#include "net/settingskeys.h"

#include <QJsonValue>
#include <QtMath>

namespace {
// The server may send the id as a number; keep it as its decimal text rather than losing it.
QString idText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.0e15)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 17);
    }
    return QString();
}
} // namespace

AuthManager::AuthManager(QObject *parent) : QObject(parent)
{
    loadSession();
}

QString AuthManager::savedToken() const
{
    return m_settings.value(SettingsKeys::authToken, QString()).toString();
}

void AuthManager::handleLoginResponse(const QJsonObject &data)
{
    m_username = data.value("username").toString();
    m_token = data.value("token").toString();
    m_userId = idText(data.value("user_id"));
    m_balance = QString::number(data.value("balance").toDouble(0), 'f', 0);
    m_gold = qRound64(data.value("gold").toDouble(0));
    const QJsonValue clicks = data.value("clicks");
    m_clicks = clicks.isDouble() ? clicks.toInteger(0) : data.value("total_clicks").toInteger(0);
    m_loggedIn = true;
    saveSession();
    emit loginSuccess(m_username);
}

void AuthManager::updateStats(qint64 clicks, qint64 gold, const QString &balance)
{
    m_clicks = clicks;
    m_gold = gold;
    m_balance = balance;
}

void AuthManager::updateClicksAndGold(qint64 clicks, qint64 gold)
{
    m_clicks = clicks;
    m_gold = gold;
}

void AuthManager::setUsername(const QString &name)
{
    if (!name.isEmpty())
        m_username = name;
}

void AuthManager::setToken(const QString &token)
{
    m_token = token;
    saveSession();
}

void AuthManager::logout()
{
    m_username = QString();
    m_token = QString();
    m_userId = QString();
    m_balance = QStringLiteral("0");
    m_gold = 0;
    m_clicks = 0;
    m_loggedIn = false;
    clearSavedSession();
    emit logoutSuccess();
}

void AuthManager::saveSession()
{
    m_settings.setValue(SettingsKeys::authToken, m_token);
    m_settings.setValue(SettingsKeys::authUsername, m_username);
    m_settings.setValue(SettingsKeys::authUserId, m_userId);
    m_settings.sync();
}

void AuthManager::loadSession()
{
    m_token = m_settings.value(SettingsKeys::authToken, QString()).toString();
    m_username = m_settings.value(SettingsKeys::authUsername, QString()).toString();
    m_userId = m_settings.value(SettingsKeys::authUserId, QString()).toString();
    if (!m_token.isEmpty())
        m_loggedIn = true;
}

void AuthManager::clearSavedSession()
{
    m_settings.remove(SettingsKeys::authToken);
    m_settings.remove(SettingsKeys::authUsername);
    m_settings.remove(SettingsKeys::authUserId);
}

void AuthManager::setValue(const QString &key, const QVariant &value)
{
    m_settings.setValue(key, value);
    m_settings.sync();
}

QVariant AuthManager::value(const QString &key, const QVariant &defaultValue) const
{
    return m_settings.value(key, defaultValue);
}

void AuthManager::expireSession()
{
    logout();
    emit tokenExpired();
}
