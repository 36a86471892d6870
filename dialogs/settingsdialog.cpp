#include "settingsdialog.h"

#include "feedback/effectmanager.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const char kDefaultAccent[] = "#00b4d8";
const char kDefaultButtonColor[] = "#ff8f00";
const char kDefaultBorderColor[] = "#8b949e";
constexpr int kDefaultWidth = 200;
constexpr int kDefaultHeight = 100;
constexpr int kDefaultRadius = 16;
constexpr int kDefaultBorderWidth = 2;

// An invalid colour names itself "#000000", so a stored text that is no colour shows black.
QString swatchStyle(const QColor &color)
{
    return QStringLiteral("QPushButton { background-color: %1; border: 1px solid #30363d; "
                          "border-radius: 4px; }")
        .arg(color.name());
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

QString effectText(int id)
{
    return QStringLiteral("%1 (%2 金币)")
        .arg(EffectManager::effectName(id), QString::number(EffectManager::effectPrice(id)));
}

} // namespace

SettingsDialog::SettingsDialog(AuthManager *authManager, EffectManager *effectManager,
                               QWidget *parent)
    : QDialog(parent), authManager(authManager), effectManager(effectManager)
{
    setWindowTitle(QStringLiteral("设置"));
    setMinimumSize(520, 680);
    resize(520, 750);
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
    auto *themeGroup = new QGroupBox(QStringLiteral("主题设置"), this);
    auto *themeLayout = new QVBoxLayout(themeGroup);
    darkThemeCheck = new QCheckBox(QStringLiteral("深色主题"), themeGroup);
    darkThemeCheck->setObjectName(QStringLiteral("darkThemeCheck"));
    darkThemeCheck->setChecked(true);
    themeLayout->addWidget(darkThemeCheck);
    auto *accentRow = new QHBoxLayout;
    accentRow->addWidget(new QLabel(QStringLiteral("强调色:"), themeGroup));
    accentColorButton = makeSwatch(themeGroup, "accentColorButton");
    accentRow->addWidget(accentColorButton);
    accentRow->addStretch();
    themeLayout->addLayout(accentRow);
    layout->addWidget(themeGroup);

    // Button.
    auto *buttonGroup = new QGroupBox(QStringLiteral("按钮设置"), this);
    auto *buttonGrid = new QGridLayout(buttonGroup);
    buttonGrid->setHorizontalSpacing(12);
    buttonGrid->setVerticalSpacing(10);
    widthSpin = makeSpin(buttonGroup, "widthSpin", 100, 500, kDefaultWidth);
    heightSpin = makeSpin(buttonGroup, "heightSpin", 60, 300, kDefaultHeight);
    radiusSpin = makeSpin(buttonGroup, "radiusSpin", 0, 80, kDefaultRadius);
    borderWidthSpin = makeSpin(buttonGroup, "borderWidthSpin", 0, 10, kDefaultBorderWidth);
    buttonColorButton = makeSwatch(buttonGroup, "buttonColorButton");
    borderColorButton = makeSwatch(buttonGroup, "borderColorButton");
    const QList<QPair<QString, QWidget *>> rows = {
        {QStringLiteral("按钮宽度:"), widthSpin},
        {QStringLiteral("按钮高度:"), heightSpin},
        {QStringLiteral("圆角半径:"), radiusSpin},
        {QStringLiteral("按钮颜色:"), buttonColorButton},
        {QStringLiteral("边框宽度:"), borderWidthSpin},
        {QStringLiteral("边框颜色:"), borderColorButton}};
    for (int row = 0; row < rows.size(); ++row) {
        buttonGrid->addWidget(new QLabel(rows[row].first, buttonGroup), row, 0);
        buttonGrid->addWidget(rows[row].second, row, 1);
    }
    layout->addWidget(buttonGroup);

    // Effects.
    auto *effectsGroup = new QGroupBox(QStringLiteral("特效设置"), this);
    auto *effectsLayout = new QVBoxLayout(effectsGroup);
    auto *switchRow = new QHBoxLayout;
    effectsEnabledCheck = new QCheckBox(QStringLiteral("启用视觉特效"), effectsGroup);
    effectsEnabledCheck->setObjectName(QStringLiteral("effectsEnabledCheck"));
    effectsEnabledCheck->setChecked(true);
    soundEnabledCheck = new QCheckBox(QStringLiteral("启用音效"), effectsGroup);
    soundEnabledCheck->setObjectName(QStringLiteral("soundEnabledCheck"));
    soundEnabledCheck->setChecked(false);
    switchRow->addWidget(effectsEnabledCheck);
    switchRow->addWidget(soundEnabledCheck);
    switchRow->addStretch();
    effectsLayout->addLayout(switchRow);
    effectsLayout->addWidget(new QLabel(QStringLiteral("勾选启用已购买的特效:"), effectsGroup));
    effectsScrollArea = new QScrollArea(effectsGroup);
    effectsScrollArea->setObjectName(QStringLiteral("effectsScrollArea"));
    effectsScrollArea->setWidgetResizable(true);
    effectsScrollArea->setStyleSheet(QStringLiteral(
        "QScrollArea { border: 1px solid #30363d; border-radius: 4px; background: transparent; }"
        "QScrollBar:vertical { width: 8px; }"
        "QScrollBar::handle:vertical { background: #30363d; border-radius: 4px; min-height: 20px; "
        "}"));
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
    auto *resetButton = new QPushButton(QStringLiteral("重置默认"), this);
    resetButton->setObjectName(QStringLiteral("secondaryButton"));
    connect(resetButton, &QPushButton::clicked, this, &SettingsDialog::onResetClicked);
    auto *cancelButton = new QPushButton(QStringLiteral("取消"), this);
    cancelButton->setObjectName(QStringLiteral("secondaryButton"));
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    auto *applyButton = new QPushButton(QStringLiteral("应用"), this);
    applyButton->setObjectName(QStringLiteral("primaryButton"));
    connect(applyButton, &QPushButton::clicked, this, &SettingsDialog::onApplyClicked);
    buttonRow->addWidget(resetButton);
    buttonRow->addWidget(cancelButton);
    buttonRow->addWidget(applyButton);
    layout->addLayout(buttonRow);

    accentColor = QColor(QLatin1String(kDefaultAccent));
    buttonColor = QColor(QLatin1String(kDefaultButtonColor));
    borderColor = QColor(QLatin1String(kDefaultBorderColor));
    accentColorButton->setStyleSheet(swatchStyle(accentColor));
    buttonColorButton->setStyleSheet(swatchStyle(buttonColor));
    borderColorButton->setStyleSheet(swatchStyle(borderColor));
    connect(accentColorButton, &QPushButton::clicked, this, &SettingsDialog::onChooseAccentColor);
    connect(buttonColorButton, &QPushButton::clicked, this, &SettingsDialog::onChooseButtonColor);
    connect(borderColorButton, &QPushButton::clicked, this, &SettingsDialog::onChooseBorderColor);
}

void SettingsDialog::populateEffects()
{
    int row = 0;
    int column = 0;
    for (int id = 1; id <= EffectManager::effectCount(); ++id) {
        auto *box = new QCheckBox(effectText(id), effectsContainer);
        box->setObjectName(QStringLiteral("effectCheck_%1").arg(id));
        box->setChecked(effectManager->isEffectEnabled(id));
        box->setEnabled(true);
        // Connected after the initial state so that building the list writes nothing.
        connect(box, &QCheckBox::toggled, this,
                [this, id](bool checked) { effectManager->setEffectEnabled(id, checked); });
        effectsGrid->addWidget(box, row, column);
        effectsGrid->setColumnStretch(column, 1);
        if (++column > 2) {
            column = 0;
            ++row;
        }
        effectCheckBoxes.append(qMakePair(id, box));
    }
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
    const QMargins margins = effectsGrid->contentsMargins();
    const int columnWidth =
        (width - margins.left() - margins.right() - 2 * effectsGrid->horizontalSpacing()) / 3;
    for (const auto &[id, box] : std::as_const(effectCheckBoxes)) {
        const QString full = effectText(id);
        const QFontMetrics metrics = box->fontMetrics();
        // What the box needs besides its text: indicator, spacing, padding.
        const int chrome = box->sizeHint().width() - metrics.horizontalAdvance(box->text());
        // Cut at the end: here the name matters more than the price.
        const QString shown = metrics.elidedText(full, Qt::ElideRight, columnWidth - chrome);
        box->setText(shown);
        box->setToolTip(shown == full ? QString() : full);
    }
}

void SettingsDialog::loadSettings()
{
    QSettings settings;
    darkThemeCheck->setChecked(settings.value(QStringLiteral("theme/dark"), true).toBool());

    accentColor = QColor::fromString(
        settings.value(QStringLiteral("theme/accent_color"), QLatin1String(kDefaultAccent))
            .toString());
    accentColorButton->setStyleSheet(swatchStyle(accentColor));

    // The spin boxes clamp stored values to their ranges.
    widthSpin->setValue(settings.value(QStringLiteral("button/width"), kDefaultWidth).toInt());
    heightSpin->setValue(settings.value(QStringLiteral("button/height"), kDefaultHeight).toInt());
    radiusSpin->setValue(
        settings.value(QStringLiteral("button/border_radius"), kDefaultRadius).toInt());
    borderWidthSpin->setValue(
        settings.value(QStringLiteral("button/border_width"), kDefaultBorderWidth).toInt());

    buttonColor = QColor::fromString(
        settings.value(QStringLiteral("button/color"), QLatin1String(kDefaultButtonColor))
            .toString());
    buttonColorButton->setStyleSheet(swatchStyle(buttonColor));
    borderColor = QColor::fromString(
        settings.value(QStringLiteral("button/border_color"), QLatin1String(kDefaultBorderColor))
            .toString());
    borderColorButton->setStyleSheet(swatchStyle(borderColor));

    effectsEnabledCheck->setChecked(
        settings.value(QStringLiteral("effects/enabled"), true).toBool());
    soundEnabledCheck->setChecked(settings.value(QStringLiteral("sound/enabled"), false).toBool());
}

void SettingsDialog::saveSettings()
{
    QSettings settings;
    settings.setValue(QStringLiteral("theme/dark"), darkThemeCheck->isChecked());
    settings.setValue(QStringLiteral("theme/accent_color"), accentColor.name());
    settings.setValue(QStringLiteral("button/width"), widthSpin->value());
    settings.setValue(QStringLiteral("button/height"), heightSpin->value());
    settings.setValue(QStringLiteral("button/border_radius"), radiusSpin->value());
    settings.setValue(QStringLiteral("button/border_width"), borderWidthSpin->value());
    settings.setValue(QStringLiteral("button/color"), buttonColor.name());
    settings.setValue(QStringLiteral("button/border_color"), borderColor.name());
    settings.setValue(QStringLiteral("effects/enabled"), effectsEnabledCheck->isChecked());
    settings.setValue(QStringLiteral("sound/enabled"), soundEnabledCheck->isChecked());
    settings.sync();
}

void SettingsDialog::onThemeChanged(int state)
{
    // The theme box is read only when Apply writes the settings.
    Q_UNUSED(state);
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
    chooseColor(accentColor, accentColorButton, QStringLiteral("选择强调色"));
}

void SettingsDialog::onChooseButtonColor()
{
    chooseColor(buttonColor, buttonColorButton, QStringLiteral("选择按钮颜色"));
}

void SettingsDialog::onChooseBorderColor()
{
    chooseColor(borderColor, borderColorButton, QStringLiteral("选择边框颜色"));
}

void SettingsDialog::onApplyClicked()
{
    saveSettings();
    emit settingsChanged();
    accept();
}

void SettingsDialog::onResetClicked()
{
    darkThemeCheck->setChecked(true);
    accentColor = QColor(QLatin1String(kDefaultAccent));
    accentColorButton->setStyleSheet(swatchStyle(accentColor));
    widthSpin->setValue(kDefaultWidth);
    heightSpin->setValue(kDefaultHeight);
    radiusSpin->setValue(kDefaultRadius);
    borderWidthSpin->setValue(kDefaultBorderWidth);
    buttonColor = QColor(QLatin1String(kDefaultButtonColor));
    buttonColorButton->setStyleSheet(swatchStyle(buttonColor));
    borderColor = QColor(QLatin1String(kDefaultBorderColor));
    borderColorButton->setStyleSheet(swatchStyle(borderColor));
    effectsEnabledCheck->setChecked(true);
    soundEnabledCheck->setChecked(false);

    // Effect switches are live: switching them off here is not undone by Cancel.
    for (const auto &entry : std::as_const(effectCheckBoxes)) {
        const QSignalBlocker blocker(entry.second);
        entry.second->setChecked(false);
        effectManager->setEffectEnabled(entry.first, false);
    }
}
