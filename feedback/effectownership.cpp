#include "effectownership.h"

#include "effectmanager.h"

#include "net/settingskeys.h"

#include <QSettings>
#include <QUrl>

#include <algorithm>

namespace {

// An account key may hold "/", which QSettings would take for a group separator.
QString groupOf(const QString &account)
{
    return QLatin1String(SettingsKeys::effectOwnedGroup) + QLatin1Char('/') +
           QString::fromLatin1(QUrl::toPercentEncoding(account));
}

} // namespace

QList<int> EffectOwnership::seenOwned(const QString &account)
{
    QSettings settings;
    settings.beginGroup(groupOf(account));
    QList<int> ids;
    for (const QString &key : settings.childKeys()) {
        bool ok = false;
        const int id = key.toInt(&ok);
        if (ok && settings.value(key).toBool())
            ids << id;
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

void EffectOwnership::setOwned(const QString &account, const QList<int> &ids)
{
    owned = QSet<int>(ids.cbegin(), ids.cend());
    known = true;

    const QList<int> seenList = seenOwned(account);
    const QSet<int> seen(seenList.cbegin(), seenList.cend());
    QList<int> fresh;
    for (int id : ids)
        if (!seen.contains(id) && !fresh.contains(id))
            fresh << id;
    if (fresh.isEmpty())
        return;
    // The record first: if the switches cannot be written, the player's choice is still kept.
    QSettings settings;
    settings.beginGroup(groupOf(account));
    for (int id : std::as_const(fresh))
        settings.setValue(QString::number(id), true);
    settings.endGroup();
    settings.sync();
    effects->enableEffects(fresh);
}
