#include "settingsdialog.h"

#include "feedback/effectmanager.h"
#include "feedback/effectownership.h"
#include "feedback/readablecolour.h"
#include "net/appsettings.h"
#include "net/settingskeys.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// Readable at 3:1 on the dialog and group backgrounds of both themes, for marks that must show
// whichever theme is on.
constexpr char kFocusRing[] = "#0086b3";

// An invalid colour names itself "#000000", so a stored text that is no colour shows black.
// Inline sheets win over the theme's focus rule, so the swatch draws its own: black or white,
// whichever stands out more from the colour it rings, since the player chooses that colour.
QString swatchStyle(const QColor &color)
{
    const QColor ring =
        ReadableColour::contrast(color, Qt::black) >= ReadableColour::contrast(color, Qt::white)
            ? QColor(Qt::black)
            : QColor(Qt::white);
    return QStringLiteral("QPushButton { background-color: %1; border: 1px solid #30363d; "
                          "border-radius: 4px; }QPushButton:focus { border: 4px solid %2; }")
        .arg(color.name(), ring.name());
}

QSpinBox *makeSpin(QWidget *parent, const char *name, int minimum, int maximum, int value)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    spin->setSuffix(QStringLiteral(" px"));
    return spin;
}

QPushButton *makeSwatch(QWidget *parent, const char *name)
{
    auto *swatch = new QPushButton(parent);
    swatch->setObjectName(QLatin1String(name));
    swatch->setFixedSize(80, 30);
    return swatch;
}

// What follows the name: its price, and whether the account lacks it.
QString effectSuffix(int id, bool owned)
{
    QString suffix = SettingsDialog::tr(" (%1 金币)").arg(EffectManager::effectPrice(id));
    if (!owned)
        suffix += QLatin1Char(' ') + SettingsDialog::tr("未购买");
    return suffix;
}

// Cuts the name, not the price, with "..." until the text fits `width`.
QString fitText(const QFontMetrics &metrics, const QString &name, const QString &suffix, int width)
{
    const QString full = name + suffix;
    if (metrics.horizontalAdvance(full) <= width)
        return full;
    const QString dots = QStringLiteral("...");
    for (int keep = int(name.size()) - 1; keep > 0; --keep) {
        const QString cut = name.left(keep) + dots + suffix;
        if (metrics.horizontalAdvance(cut) <= width)
            return cut;
    }
    return name.left(1) + dots + suffix;
}

// Enough for the switches and four effect rows; the list scrolls for the rest.
constexpr int kMinimumHeight = 560;
// Fits a 1366 x 768 screen with a desktop panel and a title bar.
constexpr int kInitialHeight = 680;

} // namespace

SettingsDialog::SettingsDialog(AuthManager *authManager, EffectManager *effectManager,
                               QWidget *parent)
    : SettingsDialog(authManager, effectManager, nullptr, parent)
{
}

SettingsDialog::SettingsDialog(AuthManager *authManager, EffectManager *effectManager,
                               const EffectOwnership *ownership, QWidget *parent)
    : QDialog(parent), authManager(authManager), effectManager(effectManager), ownership(ownership)
{
    setWindowTitle(tr("设置"));
    int height = kInitialHeight;
    if (const QScreen *shown = parent ? parent->screen() : QGuiApplication::primaryScreen())
        height = qMax(kMinimumHeight, qMin(height, shown->availableGeometry().height() - 40));
    setMinimumSize(520, kMinimumHeight);
    resize(520, height);
    setupUi();
    loadSettings();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::setupUi()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);

    // Theme.
    auto *themeGroup = new QGroupBox(tr("主题设置"), this);
    auto *themeLayout = new QVBoxLayout(themeGroup);
    darkThemeCheck = new QCheckBox(tr("深色主题"), themeGroup);
    darkThemeCheck->setObjectName(QStringLiteral("darkThemeCheck"));
    darkThemeCheck->setChecked(SettingsKeys::defaultThemeDark);
    themeLayout->addWidget(darkThemeCheck);
    auto *accentRow = new QHBoxLayout;
    accentRow->addWidget(new QLabel(tr("强调色:"), themeGroup));
    accentColorButton = makeSwatch(themeGroup, "accentColorButton");
    accentRow->addWidget(accentColorButton);
    accentRow->addStretch();
    themeLayout->addLayout(accentRow);
    auto *languageRow = new QHBoxLayout;
    auto *languageLabel = new QLabel(tr("界面语言:"), themeGroup);
    languageRow->addWidget(languageLabel);
    languageCombo = new QComboBox(themeGroup);
    languageCombo->setObjectName(QStringLiteral("languageCombo"));
    // Each language under its own name, so that a player who cannot read the current one finds it.
    languageCombo->addItem(QStringLiteral("简体中文"),
                           QLatin1String(SettingsKeys::languageChinese));
    languageCombo->addItem(QStringLiteral("English"), QLatin1String(SettingsKeys::languageEnglish));
    languageLabel->setBuddy(languageCombo);
    languageRow->addWidget(languageCombo);
    // The environment wins over the stored choice for this run; say so, or the choice shown
    // would seem to be ignored.
    auto *languageNote = new QLabel(qEnvironmentVariableIsEmpty("TAPTEMPEST_LANG")
                                        ? tr("重启后生效")
                                        : tr("重启后生效; 本次运行的语言由 TAPTEMPEST_LANG 决定"),
                                    themeGroup);
    languageNote->setObjectName(QStringLiteral("languageNote"));
    languageNote->setWordWrap(true);
    languageRow->addWidget(languageNote, 1);
    themeLayout->addLayout(languageRow);
    layout->addWidget(themeGroup);

    // Button.
    auto *buttonGroup = new QGroupBox(tr("按钮设置"), this);
    auto *buttonGrid = new QGridLayout(buttonGroup);
    buttonGrid->setHorizontalSpacing(12);
    buttonGrid->setVerticalSpacing(10);
    widthSpin = makeSpin(buttonGroup, "widthSpin", 100, 500, SettingsKeys::defaultButtonWidth);
    heightSpin = makeSpin(buttonGroup, "heightSpin", 60, 300, SettingsKeys::defaultButtonHeight);
    radiusSpin =
        makeSpin(buttonGroup, "radiusSpin", 0, 80, SettingsKeys::defaultButtonBorderRadius);
    borderWidthSpin =
        makeSpin(buttonGroup, "borderWidthSpin", 0, 10, SettingsKeys::defaultButtonBorderWidth);
    buttonColorButton = makeSwatch(buttonGroup, "buttonColorButton");
    borderColorButton = makeSwatch(buttonGroup, "borderColorButton");
    // Two settings a row, so that the effect list keeps its height on a small screen.
    const QList<QPair<QString, QWidget *>> rows = {
        {tr("按钮宽度:"), widthSpin},         {tr("按钮高度:"), heightSpin},
        {tr("圆角半径:"), radiusSpin},        {tr("边框宽度:"), borderWidthSpin},
        {tr("按钮颜色:"), buttonColorButton}, {tr("边框颜色:"), borderColorButton}};
    for (int i = 0; i < rows.size(); ++i) {
        auto *label = new QLabel(rows[i].first, buttonGroup);
        // The label names its control for screen readers.
        label->setBuddy(rows[i].second);
        const int column = (i % 2) * 3;
        buttonGrid->addWidget(label, i / 2, column);
        buttonGrid->addWidget(rows[i].second, i / 2, column + 1, Qt::AlignLeft);
    }
    buttonGrid->setColumnMinimumWidth(2, 8);
    buttonGrid->setColumnStretch(1, 1);
    buttonGrid->setColumnStretch(4, 1);
    layout->addWidget(buttonGroup);

    // Effects.
    auto *effectsGroup = new QGroupBox(tr("特效设置"), this);
    auto *effectsLayout = new QVBoxLayout(effectsGroup);
    auto *switchRow = new QHBoxLayout;
    effectsEnabledCheck = new QCheckBox(tr("启用视觉特效"), effectsGroup);
    effectsEnabledCheck->setObjectName(QStringLiteral("effectsEnabledCheck"));
    effectsEnabledCheck->setChecked(SettingsKeys::defaultEffectsEnabled);
    effectsEnabledCheck->setToolTip(
        tr("减少动态效果: 关闭后点击不再播放任何特效, 窗口也不再震动; 按钮自身的按下反馈和"
           "“+1”保留, 已购买的特效和各自的开关不变"));
    soundEnabledCheck = new QCheckBox(tr("启用音效"), effectsGroup);
    soundEnabledCheck->setObjectName(QStringLiteral("soundEnabledCheck"));
    soundEnabledCheck->setChecked(SettingsKeys::defaultSoundEnabled);
    switchRow->addWidget(effectsEnabledCheck);
    switchRow->addWidget(soundEnabledCheck);
    switchRow->addStretch();
    effectsLayout->addLayout(switchRow);
    effectsLayout->addWidget(new QLabel(tr("勾选启用已购买的特效:"), effectsGroup));
    effectsScrollArea = new QScrollArea(effectsGroup);
    effectsScrollArea->setObjectName(QStringLiteral("effectsScrollArea"));
    effectsScrollArea->setWidgetResizable(true);
    // The columns follow the width instead, so there is never anything to scroll sideways.
    effectsScrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The handle's grey stands out from both themes' backgrounds (3:1 and more).
    effectsScrollArea->setStyleSheet(
        QStringLiteral("QScrollArea { border: 1px solid #30363d; border-radius: 4px; background: "
                       "transparent; }"
                       "QScrollArea:focus { border: 3px solid %1; }"
                       "QScrollBar:vertical { width: 8px; }"
                       "QScrollBar::handle:vertical { background: #8b949e; border-radius: 4px; "
                       "min-height: 20px; }")
            .arg(QLatin1String(kFocusRing)));
    effectsContainer = new QWidget;
    effectsContainer->setObjectName(QStringLiteral("effectsContainer"));
    effectsGrid = new QGridLayout(effectsContainer);
    effectsGrid->setHorizontalSpacing(16);
    effectsGrid->setVerticalSpacing(6);
    effectsGrid->setContentsMargins(8, 8, 8, 8);
    populateEffects();
    effectsScrollArea->setWidget(effectsContainer);
    // Left to fill themselves, viewport and container paint the platform's light window colour
    // under the dark sheet's light texts. Let the themed dialog show through instead.
    effectsScrollArea->viewport()->setAutoFillBackground(false);
    effectsContainer->setAutoFillBackground(false);
    effectsScrollArea->viewport()->installEventFilter(this);
    effectsLayout->addWidget(effectsScrollArea, 1);
    layout->addWidget(effectsGroup, 1);

    // Buttons.
    auto *buttonRow = new QHBoxLayout;
    auto *resetButton = new QPushButton(tr("重置默认"), this);
    resetButton->setObjectName(QStringLiteral("secondaryButton"));
    connect(resetButton, &QPushButton::clicked, this, &SettingsDialog::onResetClicked);
    auto *cancelButton = new QPushButton(tr("取消"), this);
    cancelButton->setObjectName(QStringLiteral("secondaryButton"));
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    auto *applyButton = new QPushButton(tr("应用"), this);
    applyButton->setObjectName(QStringLiteral("primaryButton"));
    // Return applies wherever the focus is; no other button takes it.
    applyButton->setDefault(true);
    for (QPushButton *other : {resetButton, cancelButton})
        other->setAutoDefault(false);
    connect(applyButton, &QPushButton::clicked, this, &SettingsDialog::onApplyClicked);
    buttonRow->addWidget(resetButton);
    buttonRow->addWidget(cancelButton);
    buttonRow->addWidget(applyButton);
    layout->addLayout(buttonRow);

    accentColor = QColor(QLatin1String(SettingsKeys::defaultAccentColor));
    buttonColor = QColor(QLatin1String(SettingsKeys::defaultButtonColor));
    borderColor = QColor(QLatin1String(SettingsKeys::defaultButtonBorderColor));
    accentColorButton->setStyleSheet(swatchStyle(accentColor));
    buttonColorButton->setStyleSheet(swatchStyle(buttonColor));
    borderColorButton->setStyleSheet(swatchStyle(borderColor));
    accentColorButton->setAccessibleName(tr("强调色"));
    buttonColorButton->setAccessibleName(tr("按钮颜色"));
    borderColorButton->setAccessibleName(tr("边框颜色"));
    for (QPushButton *swatch : {accentColorButton, buttonColorButton, borderColorButton})
        swatch->setAccessibleDescription(tr("显示当前颜色，按下可选择其他颜色"));
    for (QPushButton *swatch : {accentColorButton, buttonColorButton, borderColorButton})
        swatch->setAutoDefault(false);
    connect(accentColorButton, &QPushButton::clicked, this, &SettingsDialog::onChooseAccentColor);
    connect(buttonColorButton, &QPushButton::clicked, this, &SettingsDialog::onChooseButtonColor);
    connect(borderColorButton, &QPushButton::clicked, this, &SettingsDialog::onChooseBorderColor);
}

void SettingsDialog::populateEffects()
{
    for (int id = 1; id <= EffectManager::effectCount(); ++id) {
        const bool owned = !ownership || ownership->owns(id);
        auto *box = new QCheckBox(EffectManager::effectName(id) + effectSuffix(id, owned),
                                  effectsContainer);
        box->setObjectName(QStringLiteral("effectCheck_%1").arg(id));
        // Not bought: it does not play, and its stored switch is left as it is.
        box->setChecked(owned && effectManager->isEffectEnabled(id));
        box->setEnabled(owned);
        box->setAccessibleDescription(tr("按应用后生效"));
        // The columns share the width; fitEffectTexts keeps every text within its column.
        box->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        effectCheckBoxes.append(qMakePair(id, box));
    }
    placeEffects(effectColumns);
    // At least four rows show, whatever the rest of the dialog needs.
    const int rowHeight = effectCheckBoxes.first().second->sizeHint().height();
    const QMargins margins = effectsGrid->contentsMargins();
    effectsScrollArea->setMinimumHeight(4 * rowHeight + 3 * effectsGrid->verticalSpacing() +
                                        margins.top() + margins.bottom() +
                                        2 * effectsScrollArea->frameWidth());
}

void SettingsDialog::placeEffects(int columns)
{
    effectColumns = columns;
    for (int i = 0; i < effectCheckBoxes.size(); ++i) {
        QCheckBox *box = effectCheckBoxes[i].second;
        effectsGrid->removeWidget(box);
        effectsGrid->addWidget(box, i / columns, i % columns);
    }
    for (int column = 0; column < 3; ++column)
        effectsGrid->setColumnStretch(column, column < columns ? 1 : 0);
}

bool SettingsDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (effectsScrollArea && watched == effectsScrollArea->viewport() &&
        event->type() == QEvent::Resize)
        fitEffectTexts(static_cast<QResizeEvent *>(event)->size().width());
    return QDialog::eventFilter(watched, event);
}

void SettingsDialog::fitEffectTexts(int width)
{
    // Room for the vertical scroll bar is kept whether it shows or not, so that its coming and
    // going cannot change the columns back and forth.
    const QScrollBar *bar = effectsScrollArea->verticalScrollBar();
    if (!bar->isVisible())
        width -= bar->sizeHint().width();
    const QMargins margins = effectsGrid->contentsMargins();
    const int inner = width - margins.left() - margins.right();
    const int spacing = effectsGrid->horizontalSpacing();

    struct Fit
    {
        QCheckBox *box;
        QString name, suffix;
        int chrome;
    };
    QList<Fit> fits;
    int widest = 0;
    for (const auto &[id, box] : std::as_const(effectCheckBoxes)) {
        const QFontMetrics metrics = box->fontMetrics();
        const QString name = EffectManager::effectName(id);
        const QString suffix = effectSuffix(id, box->isEnabled());
        // What the box needs besides its text: indicator, spacing, padding.
        const int chrome = box->sizeHint().width() - metrics.horizontalAdvance(box->text());
        widest = qMax(widest, chrome + metrics.horizontalAdvance(name + suffix));
        fits.append({box, name, suffix, chrome});
    }
    int columns = 3;
    while (columns > 1 && (inner - (columns - 1) * spacing) / columns < widest)
        --columns;
    if (columns != effectColumns)
        placeEffects(columns);
    const int columnWidth = (inner - (columns - 1) * spacing) / columns;
    for (const Fit &fit : std::as_const(fits)) {
        const QString full = fit.name + fit.suffix;
        const QString shown =
            fitText(fit.box->fontMetrics(), fit.name, fit.suffix, columnWidth - fit.chrome);
        fit.box->setText(shown);
        fit.box->setToolTip(shown == full ? QString() : full);
    }
}

void SettingsDialog::loadSettings()
{
    darkThemeCheck->setChecked(AppSettings::themeDark());
    accentColor = QColor::fromString(AppSettings::accentColor());
    accentColorButton->setStyleSheet(swatchStyle(accentColor));
    showButtonLook(AppSettings::buttonLook());
    effectsEnabledCheck->setChecked(AppSettings::effectsEnabled());
    soundEnabledCheck->setChecked(AppSettings::soundEnabled());
    // An unknown stored value starts the game in Chinese, so that is what is shown.
    languageCombo->setCurrentIndex(qMax(0, languageCombo->findData(AppSettings::language())));
}

void SettingsDialog::showButtonLook(const ButtonLook &look)
{
    // The spin boxes clamp stored values to their ranges.
    widthSpin->setValue(look.width);
    heightSpin->setValue(look.height);
    radiusSpin->setValue(look.borderRadius);
    borderWidthSpin->setValue(look.borderWidth);
    buttonColor = QColor::fromString(look.color);
    buttonColorButton->setStyleSheet(swatchStyle(buttonColor));
    borderColor = QColor::fromString(look.borderColor);
    borderColorButton->setStyleSheet(swatchStyle(borderColor));
}

void SettingsDialog::saveSettings()
{
    AppSettings::setThemeDark(darkThemeCheck->isChecked());
    AppSettings::setAccentColor(accentColor.name());
    AppSettings::setButtonLook(ButtonLook{widthSpin->value(), heightSpin->value(),
                                          radiusSpin->value(), borderWidthSpin->value(),
                                          buttonColor.name(), borderColor.name()});
    AppSettings::setEffectsEnabled(effectsEnabledCheck->isChecked());
    AppSettings::setLanguage(languageCombo->currentData().toString());
    AppSettings::setSoundEnabled(soundEnabledCheck->isChecked());
    QList<int> on;
    QList<int> off;
    for (const auto &[id, box] : std::as_const(effectCheckBoxes)) {
        if (!box->isEnabled() || box->isChecked() == effectManager->isEffectEnabled(id))
            continue;
        (box->isChecked() ? on : off) << id;
    }
    effectManager->enableEffects(on);
    for (int id : std::as_const(off))
        effectManager->setEffectEnabled(id, false);
}

void SettingsDialog::chooseColor(QColor &color, QPushButton *swatch, const QString &title)
{
    const QColor chosen = QColorDialog::getColor(color, this, title);
    if (!chosen.isValid())
        return;
    color = chosen;
    swatch->setStyleSheet(swatchStyle(color));
}

void SettingsDialog::onChooseAccentColor()
{
    chooseColor(accentColor, accentColorButton, tr("选择强调色"));
}

void SettingsDialog::onChooseButtonColor()
{
    chooseColor(buttonColor, buttonColorButton, tr("选择按钮颜色"));
}

void SettingsDialog::onChooseBorderColor()
{
    chooseColor(borderColor, borderColorButton, tr("选择边框颜色"));
}

void SettingsDialog::onApplyClicked()
{
    saveSettings();
    emit settingsChanged();
    accept();
}

void SettingsDialog::onResetClicked()
{
    darkThemeCheck->setChecked(SettingsKeys::defaultThemeDark);
    accentColor = QColor(QLatin1String(SettingsKeys::defaultAccentColor));
    accentColorButton->setStyleSheet(swatchStyle(accentColor));
    showButtonLook(AppSettings::defaultButtonLook());
    effectsEnabledCheck->setChecked(SettingsKeys::defaultEffectsEnabled);
    effectsEnabledCheck->setToolTip(
        tr("减少动态效果: 关闭后点击不再播放任何特效, 窗口也不再震动; 按钮自身的按下反馈和"
           "“+1”保留, 已购买的特效和各自的开关不变"));
    soundEnabledCheck->setChecked(SettingsKeys::defaultSoundEnabled);

    // Like everything else here, written only by Apply.
    for (const auto &entry : std::as_const(effectCheckBoxes))
        entry.second->setChecked(false);
}
