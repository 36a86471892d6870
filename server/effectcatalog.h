#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One effect the shop sells.
struct EffectEntry
{
    int id = 0;
    QString cssClass;
    QString name;
    qint64 price = 0;
};

// The effects the server sells, read from a JSON document of the form
// {"effects": [{"id": 1, "css_class": "effect-…", "name": "…", "price": 50}, …]}.
// Ids run from 1 without gaps, in document order.
class EffectCatalog
{
public:
    // Reads the catalogue compiled into the server.
    bool loadBuiltIn(QString *error);
    bool load(const QByteArray &json, QString *error);

    const QList<EffectEntry> &effects() const { return m_effects; }
    int count() const { return int(m_effects.size()); }
    // nullptr for an id outside the catalogue.
    const EffectEntry *find(qint64 id) const;

private:
    QList<EffectEntry> m_effects;
};
