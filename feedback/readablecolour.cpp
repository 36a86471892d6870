#include "readablecolour.h"

#include <QtMath>

#include <algorithm>

namespace {

double channel(double value)
{
    return value <= 0.04045 ? value / 12.92 : qPow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

double worstContrast(const QColor &colour, const QList<QColor> &backgrounds)
{
    double worst = 21;
    for (const QColor &background : backgrounds)
        worst = std::min(worst, ReadableColour::contrast(colour, background));
    return worst;
}

} // namespace

double ReadableColour::contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableColour::nearest(const QColor &colour, const QList<QColor> &backgrounds,
                               double minimum)
{
    if (worstContrast(colour, backgrounds) >= minimum)
        return colour;
    const QColor hsl = colour.toHsl();
    const double lightness = hsl.lightnessF();
    const double hue = std::max(0.0, double(hsl.hslHueF())); // -1 for greys
    QColor best = colour;
    double bestContrast = worstContrast(colour, backgrounds);
    // Step away from the colour's own lightness, darker and lighter in turn, 1/1000 at a time.
    for (int step = 1; step <= 1000; ++step) {
        for (const double candidate : {lightness - step / 1000.0, lightness + step / 1000.0}) {
            if (candidate < 0 || candidate > 1)
                continue;
            const QColor shade = QColor::fromHslF(hue, hsl.hslSaturationF(), candidate).rgb();
            // Measured as it is drawn, with 8 bits a channel.
            const double reached = worstContrast(shade, backgrounds);
            if (reached >= minimum)
                return shade;
            if (reached > bestContrast) {
                best = shade;
                bestContrast = reached;
            }
        }
    }
    return best;
}
