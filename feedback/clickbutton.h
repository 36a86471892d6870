#pragma once

#include "net/settingskeys.h"

#include <QColor>
#include <QPushButton>

#include <functional>

class QPropertyAnimation;

// The big button of the main window: shrinks while held, throws a "+1" on every left press and
// builds its face from its own style sheet.
class ClickButton : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(double scale READ scale WRITE setScale)
    Q_PROPERTY(int borderWidth READ borderWidth WRITE setBorderWidth)

public:
    explicit ClickButton(QWidget *parent = nullptr);

    double scale() const { return m_scale; }
    void setScale(double value);
    int borderWidth() const { return m_borderWidth; }
    void setBorderWidth(int pixels);
    void setBorderRadius(int pixels);
    void setButtonColor(const QColor &color);
    void setBorderColor(const QColor &color);
    void setButtonSize(int width, int height);
    void updateStyle();
    void showFloatingText(int amount);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

public:
    QSize sizeHint() const override;

private:
    void animateScaleTo(double target);
    void withDeferredRepaint(const std::function<void()> &handler);

    double m_scale = 1.0;
    int borderRadius = SettingsKeys::defaultButtonBorderRadius;
    int m_borderWidth = SettingsKeys::defaultButtonBorderWidth;
    QColor buttonColor;
    QColor borderColor;
    QPropertyAnimation *scaleAnimation = nullptr;
    // The player's chosen size; every restyle would otherwise put the style sheets' minimum back.
    QSize requestedSize;
    // The focus ring shows for focus from the keyboard, not after every click of the mouse.
    bool keyboardFocus = false;
};
