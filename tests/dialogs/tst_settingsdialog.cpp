#include "dialogs/settingsdialog.h"
#include "feedback/effectmanager.h"
#include "feedback/effectownership.h"
#include "net/appsettings.h"
#include "net/authmanager.h"
#include "support/rendering.h"
#include "support/testenv.h"
#include "support/uicheck.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <optional>

#include <functional>
#include <memory>

namespace {

// The keys the dialog owns, and what an untouched store shows for them.
const QVariantMap &defaults()
{
    static const QVariantMap map{
        {"theme/dark", true},        {"theme/accent_color", "#00b4d8"},  {"button/width", 200},
        {"button/height", 100},      {"button/border_radius", 16},       {"button/border_width", 2},
        {"button/color", "#ff8f00"}, {"button/border_color", "#8b949e"}, {"effects/enabled", true},
        {"sound/enabled", false},
    };
    return map;
}

// A full set of non-default values, as a player might have applied them earlier.
const QVariantMap &customised()
{
    static const QVariantMap map{
        {"theme/dark", false},       {"theme/accent_color", "#112233"},  {"button/width", 321},
        {"button/height", 123},      {"button/border_radius", 40},       {"button/border_width", 7},
        {"button/color", "#445566"}, {"button/border_color", "#778899"}, {"effects/enabled", false},
        {"sound/enabled", true},
    };
    return map;
}

void store(const QVariantMap &values)
{
    QSettings settings;
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

QVariantMap storedDialogKeys()
{
    QSettings settings;
    QVariantMap out;
    for (const QString &key : defaults().keys())
        if (settings.contains(key))
            out.insert(key, settings.value(key).toString());
    return out;
}

QVariantMap asText(const QVariantMap &values)
{
    QVariantMap out;
    for (auto it = values.begin(); it != values.end(); ++it)
        out.insert(it.key(), it.value().toString());
    return out;
}

QList<int> storedEffectsOn()
{
    QSettings settings;
    settings.beginGroup("effects_enabled");
    QList<int> on;
    for (int id = 1; id <= EffectManager::effectCount(); ++id)
        if (settings.value(QString::number(id), false).toBool())
            on << id;
    return on;
}

// The colour a swatch shows, read from its middle as drawn.
QString swatch(QPushButton *button)
{
    const QImage image = button->grab().toImage();
    return image.pixelColor(image.rect().center()).name();
}

// Runs `act` on the next modal dialog of type T once it is up.
template <typename T> void answerNext(std::function<void(T *)> act)
{
    auto *timer = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(10000);
    QObject::connect(timer, &QTimer::timeout, [timer, act, deadline]() {
        T *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (deadline->hasExpired())
                timer->deleteLater();
            return;
        }
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    timer->start(20);
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();

    // In English, at the smallest size, and as a screen reader walks it; the language choice
    // is stored on Apply only.
    void englishAndAccessible_data()
    {
        QTest::addColumn<bool>("english");
        QTest::newRow("Chinese") << false;
        QTest::newRow("English") << true;
    }
    void englishAndAccessible()
    {
        QFETCH(bool, english);
        std::optional<uicheck::EnglishInterface> language;
        if (english) {
            language.emplace();
            QVERIFY(language->isInstalled());
        }
        AuthManager auth;
        EffectManager effects;
        SettingsDialog dialog(&auth, &effects);
        dialog.show();
        dialog.resize(dialog.minimumSize());
        QTRY_COMPARE(dialog.size(), dialog.minimumSize());
        UI_CHECK_EMPTY(uicheck::unnamedControls(&dialog));
        UI_CHECK_EMPTY(uicheck::cutTexts(&dialog));
        UI_CHECK_EMPTY(uicheck::shortenedTexts(&dialog));
        auto *combo = child<QComboBox>(&dialog, "languageCombo");
        QCOMPARE(combo->currentData().toString(), QString("zh_CN"));
        if (english) {
            // Language names are each in their own language.
            UI_CHECK_EMPTY(uicheck::chineseTexts(&dialog, {"简体中文"}));
            QCOMPARE(child<QLabel>(&dialog, "languageNote")->text(),
                     QString("Takes effect at the next start"));
        }
        combo->setCurrentIndex(combo->findData("en"));
        QCOMPARE(AppSettings::language(), QString("zh_CN"));
        button(&dialog, english ? "Apply" : "应用")->click();
        QCOMPARE(AppSettings::language(), QString("en"));

        // While the environment picks this run's language, the stored choice shown says so.
        qputenv("TAPTEMPEST_LANG", english ? "en" : "zh_CN");
        SettingsDialog overridden(&auth, &effects);
        qunsetenv("TAPTEMPEST_LANG");
        QCOMPARE(child<QComboBox>(&overridden, "languageCombo")->currentData().toString(),
                 QString("en"));
        QVERIFY(child<QLabel>(&overridden, "languageNote")->text().contains("TAPTEMPEST_LANG"));
    }

    void emptyStoreShowsDefaults();
    void applyWritesEveryKeyWithItsTypeAndEmitsOnce();
    void cancelDiscardsEveryChangeEffectSwitchesIncluded();
    void resetOnlyTakesHoldOnApply();
    void onlyOwnedEffectsCanBeSwitched();
    void returnAppliesAndOpensNoColourDialog();
    void storedValuesOutOfRangeAreClamped();
    void choosingColours();
    void effectListReadableAndWithoutSidewaysScrolling_data();
    void effectListReadableAndWithoutSidewaysScrolling();

private:
    template <typename T> T *child(QWidget *dialog, const char *name)
    {
        return dialog->findChild<T *>(QLatin1String(name));
    }
    QPushButton *button(QWidget *dialog, const QString &text)
    {
        for (QPushButton *b : dialog->findChildren<QPushButton *>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    QCheckBox *effectBox(QWidget *dialog, int id)
    {
        return dialog->findChild<QCheckBox *>(QStringLiteral("effectCheck_%1").arg(id));
    }
    // What the controls show, in the store's vocabulary.
    QVariantMap shown(QWidget *d)
    {
        auto colourOf = [](QPushButton *swatchButton) {
            const QString sheet = swatchButton->styleSheet();
            const int at = sheet.indexOf("background-color: ") + 18;
            return sheet.mid(at, 7);
        };
        return {{"theme/dark", child<QCheckBox>(d, "darkThemeCheck")->isChecked()},
                {"theme/accent_color", colourOf(child<QPushButton>(d, "accentColorButton"))},
                {"button/width", child<QSpinBox>(d, "widthSpin")->value()},
                {"button/height", child<QSpinBox>(d, "heightSpin")->value()},
                {"button/border_radius", child<QSpinBox>(d, "radiusSpin")->value()},
                {"button/border_width", child<QSpinBox>(d, "borderWidthSpin")->value()},
                {"button/color", colourOf(child<QPushButton>(d, "buttonColorButton"))},
                {"button/border_color", colourOf(child<QPushButton>(d, "borderColorButton"))},
                {"effects/enabled", child<QCheckBox>(d, "effectsEnabledCheck")->isChecked()},
                {"sound/enabled", child<QCheckBox>(d, "soundEnabledCheck")->isChecked()}};
    }
};

void TestSettingsDialog::init()
{
    testenv::clearSettings();
}

void TestSettingsDialog::emptyStoreShowsDefaults()
{
    AuthManager auth;
    EffectManager effects;
    SettingsDialog dialog(&auth, &effects);

    QCOMPARE(shown(&dialog), defaults());
    QCOMPARE(swatch(child<QPushButton>(&dialog, "accentColorButton")), QString("#00b4d8"));
    QCOMPARE(child<QSpinBox>(&dialog, "widthSpin")->suffix(), QStringLiteral(" px"));
    QCOMPARE(button(&dialog, "应用")->objectName(), QStringLiteral("primaryButton"));
    QCOMPARE(button(&dialog, "取消")->objectName(), QStringLiteral("secondaryButton"));
    QCOMPARE(button(&dialog, "重置默认")->objectName(), QStringLiteral("secondaryButton"));

    // One box per effect of the catalogue, none switched on, and opening wrote nothing.
    QCOMPARE(dialog.findChildren<QCheckBox *>(QRegularExpression("^effectCheck_")).size(),
             EffectManager::effectCount());
    for (int id = 1; id <= EffectManager::effectCount(); ++id) {
        QCheckBox *box = effectBox(&dialog, id);
        QVERIFY(box);
        QVERIFY(!box->isChecked());
        QVERIFY(box->isEnabled());
    }
    QCOMPARE(effectBox(&dialog, 1)->text(), QStringLiteral("%1 (%2 金币)")
                                                .arg(EffectManager::effectName(1))
                                                .arg(EffectManager::effectPrice(1)));
    QVERIFY(QSettings().allKeys().isEmpty());
}

void TestSettingsDialog::applyWritesEveryKeyWithItsTypeAndEmitsOnce()
{
    AuthManager auth;
    EffectManager effects;
    SettingsDialog dialog(&auth, &effects);
    dialog.show();

    child<QCheckBox>(&dialog, "darkThemeCheck")->setChecked(false);
    child<QSpinBox>(&dialog, "widthSpin")->setValue(320);
    child<QCheckBox>(&dialog, "soundEnabledCheck")->setChecked(true);
    QVERIFY(QSettings().allKeys().isEmpty()); // nothing is written before Apply

    QSignalSpy changed(&dialog, &SettingsDialog::settingsChanged);
    QVariantMap seenAtSignal;
    connect(&dialog, &SettingsDialog::settingsChanged, this,
            [&seenAtSignal]() { seenAtSignal = storedDialogKeys(); });
    QTest::mouseClick(button(&dialog, "应用"), Qt::LeftButton);

    QCOMPARE(changed.size(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());

    QVariantMap expected = defaults();
    expected["theme/dark"] = false;
    expected["button/width"] = 320;
    expected["sound/enabled"] = true;
    // The receiver of the signal already finds the new values stored.
    QCOMPARE(seenAtSignal, asText(expected));

    // Read back the way the rest of the program reads them.
    QSettings settings;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const QVariant value = settings.value(it.key());
        QVERIFY2(value.isValid(), qPrintable(it.key()));
        QCOMPARE(value.metaType(), it.value().metaType());
        QCOMPARE(value, it.value());
    }
    // Colours are text that QColor reads back, not serialised colour objects.
    QCOMPARE(QColor::fromString(settings.value("button/color").toString()), QColor("#ff8f00"));
    QVERIFY(storedEffectsOn().isEmpty());

    // Applying an untouched dialog rewrites every key and still signals.
    testenv::clearSettings();
    SettingsDialog again(&auth, &effects);
    QSignalSpy changedAgain(&again, &SettingsDialog::settingsChanged);
    QTest::mouseClick(button(&again, "应用"), Qt::LeftButton);
    QCOMPARE(changedAgain.size(), 1);
    QCOMPARE(storedDialogKeys(), asText(defaults()));
}

void TestSettingsDialog::cancelDiscardsEveryChangeEffectSwitchesIncluded()
{
    store(customised());
    {
        EffectManager seed;
        seed.setEffectEnabled(5, true);
    }
    AuthManager auth;
    EffectManager effects;
    {
        SettingsDialog dialog(&auth, &effects);
        dialog.show();
        QCOMPARE(shown(&dialog), customised());
        QVERIFY(effectBox(&dialog, 5)->isChecked());

        child<QCheckBox>(&dialog, "darkThemeCheck")->setChecked(true);
        child<QSpinBox>(&dialog, "heightSpin")->setValue(250);
        QTest::mouseClick(effectBox(&dialog, 3), Qt::LeftButton);
        QTest::mouseClick(effectBox(&dialog, 5), Qt::LeftButton);
        // Nothing plays differently before Apply.
        QVERIFY(!effects.isEffectEnabled(3));
        QVERIFY(effects.isEffectEnabled(5));

        QSignalSpy changed(&dialog, &SettingsDialog::settingsChanged);
        QTest::mouseClick(button(&dialog, "取消"), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(changed.size(), 0);
        QCOMPARE(storedDialogKeys(), asText(customised()));
        QCOMPARE(storedEffectsOn(), QList<int>{5});
    }
    // The same toggles applied: from the next click on.
    SettingsDialog dialog(&auth, &effects);
    QTest::mouseClick(effectBox(&dialog, 3), Qt::LeftButton);
    QTest::mouseClick(effectBox(&dialog, 5), Qt::LeftButton);
    QTest::mouseClick(button(&dialog, "应用"), Qt::LeftButton);
    QVERIFY(effects.isEffectEnabled(3));
    QVERIFY(!effects.isEffectEnabled(5));
    QCOMPARE(storedEffectsOn(), QList<int>{3});
}

void TestSettingsDialog::resetOnlyTakesHoldOnApply()
{
    store(customised());
    const QList<int> seeded{1, 2, 20, EffectManager::effectCount()};
    {
        EffectManager seed;
        for (int id : seeded)
            seed.setEffectEnabled(id, true);
    }
    AuthManager auth;
    EffectManager effects;
    {
        SettingsDialog dialog(&auth, &effects);
        dialog.show();
        QTest::mouseClick(button(&dialog, "重置默认"), Qt::LeftButton);
        QCOMPARE(shown(&dialog), defaults());
        for (int id = 1; id <= EffectManager::effectCount(); ++id)
            QVERIFY(!effectBox(&dialog, id)->isChecked());
        QCOMPARE(storedEffectsOn(), seeded);
        QTest::mouseClick(button(&dialog, "取消"), Qt::LeftButton);
    }
    QCOMPARE(storedDialogKeys(), asText(customised()));
    QCOMPARE(storedEffectsOn(), seeded);
    EffectManager reloaded;
    for (int id : seeded)
        QVERIFY(reloaded.isEffectEnabled(id));

    SettingsDialog dialog(&auth, &effects);
    QTest::mouseClick(button(&dialog, "重置默认"), Qt::LeftButton);
    QTest::mouseClick(button(&dialog, "应用"), Qt::LeftButton);
    QCOMPARE(storedDialogKeys(), asText(defaults()));
    QVERIFY(storedEffectsOn().isEmpty());
    for (int id : seeded)
        QVERIFY(!effects.isEffectEnabled(id));
}

void TestSettingsDialog::onlyOwnedEffectsCanBeSwitched()
{
    {
        EffectManager seed;
        seed.setEffectEnabled(1, true); // ticked once, never bought
        seed.setEffectEnabled(5, true);
    }
    AuthManager auth;
    EffectManager effects;
    EffectOwnership ownership(&effects);

    // Nothing known yet (offline before the first reload): every box open, switches as stored.
    {
        SettingsDialog dialog(&auth, &effects, &ownership);
        for (int id = 1; id <= EffectManager::effectCount(); ++id) {
            QVERIFY(effectBox(&dialog, id)->isEnabled());
            QVERIFY(!effectBox(&dialog, id)->text().contains("未购买"));
        }
        QVERIFY(effectBox(&dialog, 1)->isChecked());
        QTest::mouseClick(button(&dialog, "应用"), Qt::LeftButton);
        QCOMPARE(storedEffectsOn(), (QList<int>{1, 5}));
    }

    ownership.setOwned("id:7", {2, 5});
    SettingsDialog dialog(&auth, &effects, &ownership);
    dialog.show();
    QCheckBox *notBought = effectBox(&dialog, 1);
    QVERIFY(!notBought->isEnabled());
    QVERIFY(!notBought->isChecked());
    QVERIFY2(notBought->text().contains("未购买") || notBought->toolTip().contains("未购买"),
             qPrintable(notBought->text()));
    QTest::mouseClick(notBought, Qt::LeftButton);
    QVERIFY(!notBought->isChecked());
    QVERIFY(effectBox(&dialog, 2)->isEnabled());
    QVERIFY(effectBox(&dialog, 2)->isChecked()); // newly owned: switched on
    QVERIFY(effectBox(&dialog, 5)->isChecked());
    QTest::mouseClick(effectBox(&dialog, 5), Qt::LeftButton);
    QTest::mouseClick(button(&dialog, "应用"), Qt::LeftButton);
    // The unbought effect's stored switch is left as it was; only owned ones changed.
    QCOMPARE(storedEffectsOn(), (QList<int>{1, 2}));
}

void TestSettingsDialog::returnAppliesAndOpensNoColourDialog()
{
    // Only Apply may take Return: no swatch or other button is a default.
    {
        AuthManager auth;
        EffectManager effects;
        SettingsDialog dialog(&auth, &effects);
        for (QPushButton *b : dialog.findChildren<QPushButton *>()) {
            const bool apply = b->text() == "应用";
            QCOMPARE(b->isDefault(), apply);
            QCOMPARE(b->autoDefault(), apply);
        }
    }
    for (const char *focus : {"soundEnabledCheck", "accentColorButton", "widthSpin"}) {
        testenv::clearSettings();
        AuthManager auth;
        EffectManager effects;
        SettingsDialog dialog(&auth, &effects);
        QSignalSpy changed(&dialog, &SettingsDialog::settingsChanged);
        bool colourDialog = false;
        auto *watch = new QTimer(&dialog);
        connect(watch, &QTimer::timeout, &dialog, [&colourDialog]() {
            if (auto *open = qobject_cast<QColorDialog *>(QApplication::activeModalWidget())) {
                colourDialog = true;
                open->reject();
            }
        });
        watch->start(10);
        QTimer::singleShot(0, &dialog, [&dialog, focus]() {
            QWidget *target = dialog.findChild<QWidget *>(QLatin1String(focus));
            target->setFocus(Qt::TabFocusReason);
            if (auto *box = qobject_cast<QCheckBox *>(target))
                box->setChecked(true);
            QTest::keyClick(target, Qt::Key_Return);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY2(!colourDialog, focus);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(QSettings().contains("theme/dark"), true);
    }
    QCOMPARE(QSettings().value("sound/enabled").toBool(), false);
}

void TestSettingsDialog::storedValuesOutOfRangeAreClamped()
{
    store({{"button/width", 9999},
           {"button/height", 5},
           {"button/border_radius", "abc"},
           {"button/border_width", -3},
           {"button/color", "notacolour"},
           {"button/border_color", "#123456"},
           {"theme/accent_color", ""}});
    AuthManager auth;
    EffectManager effects;
    SettingsDialog dialog(&auth, &effects);

    QCOMPARE(child<QSpinBox>(&dialog, "widthSpin")->value(), 500);
    QCOMPARE(child<QSpinBox>(&dialog, "heightSpin")->value(), 60);
    QCOMPARE(child<QSpinBox>(&dialog, "radiusSpin")->value(), 0);
    QCOMPARE(child<QSpinBox>(&dialog, "borderWidthSpin")->value(), 0);
    QCOMPARE(swatch(child<QPushButton>(&dialog, "buttonColorButton")), QString("#000000"));
    QCOMPARE(swatch(child<QPushButton>(&dialog, "borderColorButton")), QString("#123456"));
    QCOMPARE(swatch(child<QPushButton>(&dialog, "accentColorButton")), QString("#000000"));

    QTest::mouseClick(button(&dialog, "应用"), Qt::LeftButton);
    QSettings settings;
    QCOMPARE(settings.value("button/width").toInt(), 500);
    QCOMPARE(settings.value("button/height").toInt(), 60);
    QCOMPARE(settings.value("button/border_radius").toInt(), 0);
    QCOMPARE(settings.value("button/border_width").toInt(), 0);
    QCOMPARE(settings.value("button/color").toString(), QStringLiteral("#000000"));
    QCOMPARE(settings.value("button/border_color").toString(), QStringLiteral("#123456"));
    QCOMPARE(settings.value("theme/accent_color").toString(), QStringLiteral("#000000"));
}

void TestSettingsDialog::choosingColours()
{
    AuthManager auth;
    EffectManager effects;
    SettingsDialog dialog(&auth, &effects);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QString title;
    QColor offered;
    answerNext<QColorDialog>([&](QColorDialog *chooser) {
        title = chooser->windowTitle();
        offered = chooser->currentColor();
        chooser->setCurrentColor(QColor("#336699"));
        chooser->accept();
    });
    QTest::mouseClick(child<QPushButton>(&dialog, "buttonColorButton"), Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("选择按钮颜色"));
    QCOMPARE(offered, QColor("#ff8f00"));
    QCOMPARE(swatch(child<QPushButton>(&dialog, "buttonColorButton")), QString("#336699"));
    QVERIFY(QSettings().allKeys().isEmpty()); // chosen, not yet applied

    // Cancelling a chooser keeps the colour.
    answerNext<QColorDialog>([&](QColorDialog *chooser) {
        title = chooser->windowTitle();
        chooser->setCurrentColor(QColor("#abcdef"));
        chooser->reject();
    });
    QTest::mouseClick(child<QPushButton>(&dialog, "borderColorButton"), Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("选择边框颜色"));
    QCOMPARE(swatch(child<QPushButton>(&dialog, "borderColorButton")), QString("#8b949e"));

    QTest::mouseClick(button(&dialog, "应用"), Qt::LeftButton);
    QSettings settings;
    QCOMPARE(settings.value("button/color").toString(), QStringLiteral("#336699"));
    QCOMPARE(settings.value("button/border_color").toString(), QStringLiteral("#8b949e"));
}

TAPTEMPEST_TEST_MAIN(TestSettingsDialog)
void TestSettingsDialog::effectListReadableAndWithoutSidewaysScrolling_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("english");
    QTest::addColumn<bool>("mostNotBought");
    QTest::newRow("dark, all bought") << true << false << false;
    QTest::newRow("light, all bought") << false << false << false;
    QTest::newRow("dark, most not bought") << true << false << true;
    QTest::newRow("English, light, most not bought") << false << true << true;
    QTest::newRow("English, dark, all bought") << true << true << false;
}

void TestSettingsDialog::effectListReadableAndWithoutSidewaysScrolling()
{
    QFETCH(bool, dark);
    QFETCH(bool, english);
    QFETCH(bool, mostNotBought);
    std::optional<uicheck::EnglishInterface> language;
    if (english) {
        language.emplace();
        QVERIFY(language->isInstalled());
    }
    rendering::applyThemeSheet(dark);
    AuthManager auth;
    EffectManager effects;
    EffectOwnership ownership(&effects);
    if (mostNotBought)
        ownership.setOwned("id:7", {1, 3, 10, 14});
    SettingsDialog dialog(&auth, &effects, &ownership);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // Room for a 1366 x 768 screen's panel and title bar; the effect list scrolls instead.
    QVERIFY2(dialog.frameGeometry().height() <= 700, qPrintable(QString::number(dialog.height())));
    QCOMPARE(dialog.width(), 520);
    auto *area = child<QScrollArea>(&dialog, "effectsScrollArea");
    QWidget *container = child<QWidget>(&dialog, "effectsContainer");

    // At its first and at its smallest size: every effect's whole text within the list, nothing
    // to scroll sideways, at least four rows in view, and 应用 on screen.
    for (const QSize size : {dialog.size(), dialog.minimumSize()}) {
        dialog.resize(size);
        QTRY_COMPARE(dialog.size(), size);
        QTRY_VERIFY(container->width() <= area->viewport()->width());
        QVERIFY(!area->horizontalScrollBar()->isVisible());
        QTRY_VERIFY(area->verticalScrollBar()->isVisible());
        QVERIFY(area->verticalScrollBar()->maximum() > 0);
        QSet<int> columns;
        for (int id = 1; id <= EffectManager::effectCount(); ++id) {
            QCheckBox *box = effectBox(&dialog, id);
            const QString full =
                EffectManager::effectName(id) +
                (english ? QStringLiteral(" (%1 gold)") : QStringLiteral(" (%1 金币)"))
                    .arg(EffectManager::effectPrice(id)) +
                (box->isEnabled() ? QString()
                 : english        ? QStringLiteral(" not bought")
                                  : QStringLiteral(" 未购买"));
            QCOMPARE(box->text(), full);
            QVERIFY(box->toolTip().isEmpty());
            QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(full));
            QVERIFY2(box->geometry().right() < area->viewport()->width(), qPrintable(full));
            columns.insert(box->x());
        }
        // Whole texts come before columns, but Chinese keeps two at this width.
        if (!english)
            QVERIFY2(columns.size() >= 2, qPrintable(QString::number(columns.size())));
        QCheckBox *first = effectBox(&dialog, 1);
        QVERIFY2(area->viewport()->height() >= 4 * first->height(),
                 qPrintable(QString::number(area->viewport()->height())));
        QPushButton *apply = button(&dialog, english ? "Apply" : "应用");
        QVERIFY(apply->isVisible());
        QVERIFY(apply->mapTo(&dialog, apply->rect().bottomRight()).y() < dialog.height());
        UI_CHECK_EMPTY(uicheck::cutTexts(&dialog));
        UI_CHECK_EMPTY(uicheck::shortenedTexts(&dialog));
    }

    // Widened, the dialog gives the list its three columns back, the texts still whole.
    dialog.resize(1000, dialog.height());
    QTRY_COMPARE(effectBox(&dialog, 3)->y(), effectBox(&dialog, 1)->y());
    QVERIFY(effectBox(&dialog, 4)->y() > effectBox(&dialog, 1)->y());
    QVERIFY(effectBox(&dialog, 2)->toolTip().isEmpty());
    QVERIFY(!area->horizontalScrollBar()->isVisible());

    // Behind the boxes is the theme's colour, so their text reads as well as the rest.
    const QImage image = rendering::render(&dialog);
    QCheckBox *star = effectBox(&dialog, 1);
    const QColor text = star->palette().color(star->foregroundRole());
    const QColor behind = image.pixelColor(container->mapTo(&dialog, QPoint(3, 3)));
    const QColor besideList = image.pixelColor(area->mapTo(&dialog, QPoint(-4, 4)));
    QVERIFY2(rendering::contrast(text, behind) >= 4.5,
             qPrintable(QStringLiteral("%1 on %2").arg(text.name(), behind.name())));
    QVERIFY2(rendering::contrast(behind, besideList) < 1.5,
             qPrintable(QStringLiteral("%1 beside %2").arg(behind.name(), besideList.name())));
    qApp->setStyleSheet(QString());
}

#include "tst_settingsdialog.moc"
