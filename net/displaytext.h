#pragma once

#include <QString>

// Text from the server made safe to show in a label.
class DisplayText
{
public:
    // The text without bidirectional controls, which would reorder what surrounds it, and
    // without other control characters. Only for showing; the text itself stays as sent.
    static QString clean(const QString &text);
};
