#include "appsettings.h"

#include "settingskeys.h"

#include <QSettings>

namespace {

void write(const char *key, const QVariant &value)
{
    QSettings settings;
    settings.setValue(QLatin1String(key), value);
    settings.sync();
}

} // namespace

bool AppSettings::themeDark()
{
    return QSettings().value(SettingsKeys::themeDark, SettingsKeys::defaultThemeDark).toBool();
}

void AppSettings::setThemeDark(bool dark)
{
    write(SettingsKeys::themeDark, dark);
}

QString AppSettings::accentColor()
{
    return QSettings()
        .value(SettingsKeys::themeAccentColor, QLatin1String(SettingsKeys::defaultAccentColor))
        .toString();
}

void AppSettings::setAccentColor(const QString &color)
{
    write(SettingsKeys::themeAccentColor, color);
}

ButtonLook AppSettings::defaultButtonLook()
{
    return ButtonLook{SettingsKeys::defaultButtonWidth,
                      SettingsKeys::defaultButtonHeight,
                      SettingsKeys::defaultButtonBorderRadius,
                      SettingsKeys::defaultButtonBorderWidth,
                      QLatin1String(SettingsKeys::defaultButtonColor),
                      QLatin1String(SettingsKeys::defaultButtonBorderColor)};
}

ButtonLook AppSettings::buttonLook()
{
    const QSettings settings;
    const ButtonLook fallback = defaultButtonLook();
    // A stored value that is no number reads as 0, as the button has always taken it.
    return ButtonLook{
        settings.value(SettingsKeys::buttonWidth, fallback.width).toInt(),
        settings.value(SettingsKeys::buttonHeight, fallback.height).toInt(),
        settings.value(SettingsKeys::buttonBorderRadius, fallback.borderRadius).toInt(),
        settings.value(SettingsKeys::buttonBorderWidth, fallback.borderWidth).toInt(),
        settings.value(SettingsKeys::buttonColor, fallback.color).toString(),
        settings.value(SettingsKeys::buttonBorderColor, fallback.borderColor).toString()};
}

void AppSettings::setButtonLook(const ButtonLook &look)
{
    QSettings settings;
    settings.setValue(SettingsKeys::buttonWidth, look.width);
    settings.setValue(SettingsKeys::buttonHeight, look.height);
    settings.setValue(SettingsKeys::buttonBorderRadius, look.borderRadius);
    settings.setValue(SettingsKeys::buttonBorderWidth, look.borderWidth);
    settings.setValue(SettingsKeys::buttonColor, look.color);
    settings.setValue(SettingsKeys::buttonBorderColor, look.borderColor);
    settings.sync();
}

bool AppSettings::effectsEnabled()
{
    return QSettings()
        .value(SettingsKeys::effectsEnabled, SettingsKeys::defaultEffectsEnabled)
        .toBool();
}

void AppSettings::setEffectsEnabled(bool enabled)
{
    write(SettingsKeys::effectsEnabled, enabled);
}

bool AppSettings::soundEnabled()
{
    return QSettings()
        .value(SettingsKeys::soundEnabled, SettingsKeys::defaultSoundEnabled)
        .toBool();
}

void AppSettings::setSoundEnabled(bool enabled)
{
    write(SettingsKeys::soundEnabled, enabled);
}

QString AppSettings::language()
{
    return QSettings()
        .value(SettingsKeys::uiLanguage, QLatin1String(SettingsKeys::defaultUiLanguage))
        .toString();
}

void AppSettings::setLanguage(const QString &language)
{
    write(SettingsKeys::uiLanguage, language);
}

QByteArray AppSettings::mainWindowGeometry()
{
    return QSettings().value(SettingsKeys::mainWindowGeometry).toByteArray();
}

void AppSettings::setMainWindowGeometry(const QByteArray &geometry)
{
    write(SettingsKeys::mainWindowGeometry, geometry);
}
