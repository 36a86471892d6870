#pragma once

#include <QString>

class QLabel;

// A figure a screen reader can name and follow: the label shows the value, its accessible name
// says which figure it is and what it holds, and a change of value is announced.
class AnnouncedFigure
{
public:
    // `caption` as the player reads it beside the figure ("金币:"); `shown` is what the label
    // displays when that differs from `value` (a name cut to fit).
    static void show(QLabel *label, const QString &caption, const QString &value,
                     const QString &shown = QString());
};
