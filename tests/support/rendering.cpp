#include "rendering.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

#include <cmath>
#include <cstdlib>

namespace rendering {

void applyThemeSheet(bool dark)
{
    QFile file(dark ? QStringLiteral(":/style.qss") : QStringLiteral(":/style_light.qss"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
}

QString themeName(bool dark)
{
    return dark ? QStringLiteral("dark") : QStringLiteral("light");
}

QImage render(QWidget *widget)
{
    QImage image = widget->grab().toImage();
    if (image.devicePixelRatio() != 1.0)
        image = image.scaled(widget->size());
    return image.convertToFormat(QImage::Format_RGB32);
}

int pixelsNear(const QImage &image, const QRect &area, const QColor &colour, int tolerance)
{
    int count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) <= tolerance &&
                std::abs(pixel.green() - colour.green()) <= tolerance &&
                std::abs(pixel.blue() - colour.blue()) <= tolerance)
                ++count;
        }
    }
    return count;
}

namespace {
double luminance(const QColor &colour)
{
    auto channel = [](double value) {
        value /= 255.0;
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green()) +
           0.0722 * channel(colour.blue());
}
} // namespace

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

} // namespace rendering
