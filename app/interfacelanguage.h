#pragma once

#include <QString>

class QCoreApplication;

// The language of the interface, chosen once at start-up: the game's own texts and Qt's
// (standard buttons, the colour dialog) follow it. Chinese is the source language, so it needs
// no translation of the game's texts and is what every failure falls back to.
class InterfaceLanguage
{
public:
    // Where the English translation is compiled in.
    static QString englishTranslation();

    // "zh_CN" or "en": TAPTEMPEST_LANG for this run, else the stored "ui/language". Any other
    // value gives "zh_CN" and one warning line.
    static QString chosen();

    // Replaces the translations installed by an earlier call with those of `language` and
    // returns the language now shown: "zh_CN" when the game's translation cannot be loaded.
    static QString install(QCoreApplication &app, const QString &language,
                           const QString &gameTranslation = englishTranslation());
};
