#pragma once

#include <QColor>
#include <QDialog>
#include <QList>
#include <QPair>

struct ButtonLook;
class AuthManager;
class EffectManager;
class EffectOwnership;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QPushButton;
class QScrollArea;
class QSpinBox;

// Theme, the click button's look and the per-effect switches. Everything, the effect switches
// included, is written only by Apply (or Return) and plays from the next click; Cancel and
// closing discard it all. Only effects the account owns can be switched; while ownership is
// unknown every box is open and shows its stored switch.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    SettingsDialog(AuthManager *authManager, EffectManager *effectManager,
                   QWidget *parent = nullptr);
    SettingsDialog(AuthManager *authManager, EffectManager *effectManager,
                   const EffectOwnership *ownership, QWidget *parent = nullptr);
    ~SettingsDialog() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void settingsChanged();

private slots:
    void onChooseAccentColor();
    void onChooseButtonColor();
    void onChooseBorderColor();
    void onApplyClicked();
    void onResetClicked();

private:
    void setupUi();
    void populateEffects();
    // Lays the effect boxes out in as many columns, three at most, as let every whole text fit
    // a list `width` pixels wide. Only a single column too narrow for a text shortens it, and a
    // shortened text keeps the whole one as its tool tip.
    void fitEffectTexts(int width);
    void placeEffects(int columns);
    void loadSettings();
    void saveSettings();
    void showButtonLook(const ButtonLook &look);
    void chooseColor(QColor &color, QPushButton *swatch, const QString &title);

    AuthManager *authManager;
    EffectManager *effectManager;
    const EffectOwnership *ownership = nullptr;
    QCheckBox *darkThemeCheck = nullptr;
    QPushButton *accentColorButton = nullptr;
    QColor accentColor;
    QSpinBox *widthSpin = nullptr;
    QSpinBox *heightSpin = nullptr;
    QSpinBox *radiusSpin = nullptr;
    QSpinBox *borderWidthSpin = nullptr;
    QPushButton *buttonColorButton = nullptr;
    QPushButton *borderColorButton = nullptr;
    QColor buttonColor;
    QColor borderColor;
    QCheckBox *effectsEnabledCheck = nullptr;
    QCheckBox *soundEnabledCheck = nullptr;
    QComboBox *languageCombo = nullptr;
    QScrollArea *effectsScrollArea = nullptr;
    QWidget *effectsContainer = nullptr;
    QGridLayout *effectsGrid = nullptr;
    QList<QPair<int, QCheckBox *>> effectCheckBoxes;
    int effectColumns = 3;
};
