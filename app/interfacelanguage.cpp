#include "interfacelanguage.h"

#include "net/appsettings.h"
#include "net/settingskeys.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTranslator>

namespace {

Q_LOGGING_CATEGORY(lcLanguage, "taptempest.language")

constexpr char translatorName[] = "taptempestTranslator";

// The catalogue names its own language. QTranslator checks only a file's header and the length
// of its blocks: a damaged file that loads but cannot find this text would show Chinese and
// English mixed, or nothing.
const char *const ownLanguage = QT_TRANSLATE_NOOP("InterfaceLanguage", "简体中文");

bool namesItsLanguage(const QTranslator &translator)
{
    const QString name = translator.translate("InterfaceLanguage", ownLanguage);
    return !name.trimmed().isEmpty() && name != QString::fromUtf8(ownLanguage);
}

bool isKnown(const QString &language)
{
    return language == QLatin1String(SettingsKeys::languageChinese) ||
           language == QLatin1String(SettingsKeys::languageEnglish);
}

QTranslator *addTranslator(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    translator->setObjectName(QLatin1String(translatorName));
    return translator;
}

void installQt(QCoreApplication &app, const QLocale &locale)
{
    QTranslator *translator = addTranslator(app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(locale, "qt", "_", folder)) {
        // Qt's source texts are English: only the Chinese interface misses anything.
        if (locale.language() == QLocale::Chinese)
            qCWarning(lcLanguage,
                      "Qt's Chinese translation is missing from %s; Qt's own texts stay in English",
                      qPrintable(folder));
        delete translator;
        return;
    }
    QCoreApplication::installTranslator(translator);
}

} // namespace

QString InterfaceLanguage::englishTranslation()
{
    return QStringLiteral(":/i18n/taptempest_en.qm");
}

QString InterfaceLanguage::chosen()
{
    const QByteArray fromEnvironment = qgetenv("TAPTEMPEST_LANG");
    const bool overridden = !fromEnvironment.isEmpty();
    const QString language =
        overridden ? QString::fromLocal8Bit(fromEnvironment).trimmed() : AppSettings::language();
    if (isKnown(language))
        return language;
    qCWarning(lcLanguage, "Unknown interface language \"%s\" in %s; using zh_CN",
              qPrintable(language), overridden ? "TAPTEMPEST_LANG" : SettingsKeys::uiLanguage);
    return QLatin1String(SettingsKeys::languageChinese);
}

QString InterfaceLanguage::install(QCoreApplication &app, const QString &language,
                                   const QString &gameTranslation)
{
    const QList<QTranslator *> earlier =
        app.findChildren<QTranslator *>(QLatin1String(translatorName), Qt::FindDirectChildrenOnly);
    for (QTranslator *translator : earlier) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }

    if (language == QLatin1String(SettingsKeys::languageEnglish)) {
        QTranslator *game = addTranslator(app);
        // An empty catalogue would load "successfully" and leave every text Chinese anyway;
        // say why the player sees Chinese.
        if (game->load(gameTranslation) && !game->isEmpty() && namesItsLanguage(*game)) {
            QCoreApplication::installTranslator(game);
            installQt(app, QLocale(QLocale::English, QLocale::UnitedStates));
            return language;
        }
        qCWarning(lcLanguage, "The English translation %s cannot be loaded; using zh_CN",
                  qPrintable(gameTranslation));
        delete game;
    }
    installQt(app, QLocale(QLocale::Chinese, QLocale::China));
    return QLatin1String(SettingsKeys::languageChinese);
}
