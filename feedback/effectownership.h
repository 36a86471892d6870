#pragma once

#include <QList>
#include <QSet>
#include <QString>

class EffectManager;

// Which effects the account owns, as the last statistics reload listed them. Each account also
// has a record of every effect it was ever seen owning (group "effects_owned", beside the
// switches), so that a reload switches on only what was bought since and leaves an effect the
// player switched off alone.
class EffectOwnership
{
public:
    explicit EffectOwnership(EffectManager *effects) : effects(effects) {}

    // The statistics list `ids` as `account`'s: switches on those never seen owned before for
    // that account, with at most one write of the switches, and records them.
    void setOwned(const QString &account, const QList<int> &ids);
    // Whether a reload has listed the owned effects yet.
    bool isKnown() const { return known; }
    // True for an owned effect, and for every effect while nothing is known.
    bool owns(int effectId) const { return !known || owned.contains(effectId); }

    // Ids recorded as seen owned for `account`.
    static QList<int> seenOwned(const QString &account);

private:
    EffectManager *effects;
    QSet<int> owned;
    bool known = false;
};
