#pragma once

#include <QColor>
#include <QList>

// Text colours that stay readable on a background the player or the theme chose: a colour is
// kept when it has the contrast, otherwise replaced by the nearest shade of its own hue that has.
class ReadableColour
{
public:
    // WCAG contrast ratio of two colours, 1 (none) to 21 (black on white).
    static double contrast(const QColor &a, const QColor &b);

    // `colour` if it reaches `minimum` against every background, else the shade of the same hue
    // and saturation with the nearest lightness that does. When none does, the one that comes
    // closest.
    static QColor nearest(const QColor &colour, const QList<QColor> &backgrounds, double minimum);
};
