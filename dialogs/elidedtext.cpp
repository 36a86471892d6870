#include "elidedtext.h"

#include <QFontMetrics>
#include <QLabel>
#include <QTableWidgetItem>

namespace {

// Measuring a huge text costs more than the cut: no name on screen needs more than this.
constexpr int kMeasuredChars = 1000;

} // namespace

QString ElidedText::elide(const QFontMetrics &metrics, const QString &text, int width)
{
    const QString measured = text.size() > kMeasuredChars ? text.left(kMeasuredChars) : text;
    const QString shown = metrics.elidedText(measured, Qt::ElideRight, width);
    if (shown == measured && measured.size() < text.size())
        return metrics.elidedText(measured + QStringLiteral("…"), Qt::ElideRight, width);
    return shown;
}

void ElidedText::show(QLabel *label, const QString &text, int width)
{
    // The style sheet's font applies once the label is polished.
    label->ensurePolished();
    const QString shown = elide(label->fontMetrics(), text, width);
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : text);
}

void ElidedText::show(QTableWidgetItem *item, const QFontMetrics &metrics, const QString &text,
                      int width)
{
    const QString shown = elide(metrics, text, width);
    item->setText(shown);
    item->setToolTip(shown == text ? QString() : text);
}
