#include "theme.h"

#include "net/appsettings.h"

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QPalette>
#include <QTextStream>

#include <cmath>

namespace {

// Relative luminance, for the text drawn on the accent.
double luminance(const QColor &c)
{
    auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// The player's accent colour becomes the palette's highlight. The sheets fix most focus marks
// and selections themselves; wherever they leave them to the palette (and the widget style
// draws its focus marks from the highlight) the accent shows.
void applyAccent(QApplication *app)
{
    const QColor accent = QColor::fromString(AppSettings::accentColor());
    if (!accent.isValid())
        return;
    QPalette palette = app->palette();
    const double l = luminance(accent);
    // Whichever of black and white stands out more on the accent.
    const QColor text = (l + 0.05) / 0.05 >= 1.05 / (l + 0.05) ? Qt::black : Qt::white;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight, accent);
        palette.setColor(group, QPalette::HighlightedText, text);
    }
    app->setPalette(palette);
}

} // namespace

bool Theme::apply(QApplication *app, bool dark)
{
    applyAccent(app);
    QFile file(dark ? QStringLiteral(":/style.qss") : QStringLiteral(":/style_light.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    app->setStyleSheet(stream.readAll());
    return true;
}

bool Theme::applySaved(QApplication *app)
{
    return apply(app, AppSettings::themeDark());
}
