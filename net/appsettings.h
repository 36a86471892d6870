#pragma once

#include <QByteArray>
#include <QString>

// The look of the click button as the settings store holds it. Colours stay text here (the
// settings layer has no Qt Gui); the widgets read them with QColor::fromString.
struct ButtonLook
{
    int width = 0;
    int height = 0;
    int borderRadius = 0;
    int borderWidth = 0;
    QString color;
    QString borderColor;
};

// Typed reads and writes of the player's look settings. Each key meets its default here and
// nowhere else; every call opens the default settings store afresh, so nothing is cached across
// windows. Writers sync.
class AppSettings
{
public:
    static bool themeDark();
    static void setThemeDark(bool dark);
    static QString accentColor();
    static void setAccentColor(const QString &color);

    static ButtonLook buttonLook();
    static ButtonLook defaultButtonLook();
    static void setButtonLook(const ButtonLook &look);

    static bool effectsEnabled();
    static void setEffectsEnabled(bool enabled);
    static bool soundEnabled();
    static void setSoundEnabled(bool enabled);

    // As stored, unchecked: the start-up decides what an unknown value means.
    static QString language();
    static void setLanguage(const QString &language);

    // Empty while none was saved.
    static QByteArray mainWindowGeometry();
    static void setMainWindowGeometry(const QByteArray &geometry);
};
