#pragma once

#include <QString>

class QFontMetrics;
class QLabel;
class QTableWidgetItem;

// Texts from the server cut to a width, so that a name of any length cannot stretch a window;
// whatever is cut keeps the whole text as its tool tip.
class ElidedText
{
public:
    // `text` cut at the right to at most `width` pixels in `metrics`.
    static QString elide(const QFontMetrics &metrics, const QString &text, int width);
    // Shows `text` on `label` in the label's own (styled) font, cut to `width` pixels.
    static void show(QLabel *label, const QString &text, int width);
    // The same for a table cell drawn in `metrics`.
    static void show(QTableWidgetItem *item, const QFontMetrics &metrics, const QString &text,
                     int width);
};
