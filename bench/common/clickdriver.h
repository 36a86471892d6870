#pragma once

// How the benchmarks press the big button and count what the effects left on screen.

#include "feedback/clickbutton.h"
#include "feedback/effectlayer.h"
#include "feedback/effectmanager.h"
#include "net/settingskeys.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QMouseEvent>
#include <QSettings>

namespace bench {

// The heaviest case: the next main window plays all effects on every click.
inline bool switchOnEveryEffect()
{
    QSettings settings;
    settings.beginGroup(SettingsKeys::effectSwitchGroup);
    for (int id = 1; id <= EffectManager::effectCount(); ++id)
        settings.setValue(QString::number(id), true);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

// The stats reply's "effects" for an account that owns them all: only owned effects play.
inline QJsonArray everyEffectOwned()
{
    QJsonArray owned;
    for (int id = 1; id <= EffectManager::effectCount(); ++id)
        owned.append(QJsonObject{{"css_class", EffectManager::effectClass(id)}});
    return owned;
}

// The items the window's effect layer is drawing.
inline int liveEffectItems(const QWidget *window)
{
    const auto *layer = window->findChild<const EffectLayer *>("effectLayer");
    return layer ? layer->itemCount() : 0;
}

// The "+1" labels are the click button's direct label children that let clicks through.
inline int liveLabels(const QWidget *parent)
{
    int count = 0;
    for (const QObject *child : parent->children()) {
        const auto *label = qobject_cast<const QLabel *>(child);
        if (label && label->testAttribute(Qt::WA_TransparentForMouseEvents))
            ++count;
    }
    return count;
}

// A left press or release in the middle of the button, as the window system would deliver it.
inline void sendMouse(ClickButton *button, QEvent::Type type)
{
    const QPointF local = QRectF(button->rect()).center();
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, local, button->mapToGlobal(local), Qt::LeftButton, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(button, &event);
}

} // namespace bench
