#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

class QWidget;

// Looking at widgets as the player sees them: rendered with a theme's sheet.
namespace rendering {

// Installs the dark (":/style.qss") or light (":/style_light.qss") sheet application-wide.
void applyThemeSheet(bool dark);
QString themeName(bool dark);

// The widget as it is drawn now, one image pixel per device-independent pixel.
QImage render(QWidget *widget);

// How many pixels of `area` are within `tolerance` (per channel) of `colour`.
int pixelsNear(const QImage &image, const QRect &area, const QColor &colour, int tolerance = 12);

// WCAG contrast ratio, 1 (none) to 21 (black on white).
double contrast(const QColor &a, const QColor &b);

} // namespace rendering
