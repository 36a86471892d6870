#include "effectcatalog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>

namespace {

bool isWholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    return std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.0e15;
}

} // namespace

bool EffectCatalog::loadBuiltIn(QString *error)
{
    QFile file(QStringLiteral(":/server/effects.json"));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("the built-in effect catalogue is missing");
        return false;
    }
    return load(file.readAll(), error);
}

bool EffectCatalog::load(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (!doc.isObject() || !doc.object().value(QLatin1String("effects")).isArray()) {
        *error = QStringLiteral("effect catalogue: expected an object with an \"effects\" array");
        return false;
    }
    const QJsonArray array = doc.object().value(QLatin1String("effects")).toArray();
    QList<EffectEntry> effects;
    QSet<QString> classes;
    for (const QJsonValue &value : array) {
        const int position = int(effects.size()) + 1;
        const QJsonObject object = value.toObject();
        const QJsonValue id = object.value(QLatin1String("id"));
        const QJsonValue price = object.value(QLatin1String("price"));
        EffectEntry entry;
        entry.cssClass = object.value(QLatin1String("css_class")).toString();
        entry.name = object.value(QLatin1String("name")).toString();
        if (!isWholeNumber(id) || id.toDouble() != position) {
            *error =
                QStringLiteral("effect catalogue: entry %1 does not have the id %1").arg(position);
            return false;
        }
        if (!entry.cssClass.startsWith(QLatin1String("effect-")) ||
            classes.contains(entry.cssClass)) {
            *error =
                QStringLiteral("effect catalogue: entry %1 has a missing or repeated css_class")
                    .arg(position);
            return false;
        }
        if (entry.name.isEmpty() || !isWholeNumber(price) || price.toDouble() <= 0) {
            *error = QStringLiteral("effect catalogue: entry %1 needs a name and a positive price")
                         .arg(position);
            return false;
        }
        entry.id = position;
        entry.price = qint64(price.toDouble());
        classes.insert(entry.cssClass);
        effects.append(entry);
    }
    if (effects.isEmpty()) {
        *error = QStringLiteral("effect catalogue: no effects");
        return false;
    }
    m_effects = effects;
    return true;
}

const EffectEntry *EffectCatalog::find(qint64 id) const
{
    if (id < 1 || id > m_effects.size())
        return nullptr;
    return &m_effects.at(id - 1);
}
