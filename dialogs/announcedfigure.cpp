#include "announcedfigure.h"

#include <QAccessible>
#include <QLabel>

void AnnouncedFigure::show(QLabel *label, const QString &caption, const QString &value,
                           const QString &shown)
{
    const QString name = caption.isEmpty() ? value : caption + QLatin1Char(' ') + value;
    const bool changed = label->accessibleName() != name;
    label->setText(shown.isNull() ? value : shown);
    if (!changed)
        return;
    label->setAccessibleName(name);
    // A static text has no value interface of its own; the event carries the new value for
    // screen readers that follow value changes, the name change (sent by Qt) for the others.
    QAccessibleValueChangeEvent event(label, value);
    QAccessible::updateAccessibility(&event);
}
