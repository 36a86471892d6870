#pragma once

// How the benchmarks press the big button and count what the effects left on screen.

#include "feedback/clickbutton.h"
#include "feedback/effectlayer.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>

namespace bench {

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
