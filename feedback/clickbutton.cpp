#include "clickbutton.h"

#include "feedback/readablecolour.h"
#include "net/settingskeys.h"

#include <QEasingCurve>
#include <QEvent>
#include <QFocusEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPropertyAnimation>
#include <QRandomGenerator>
#include <QStyle>
#include <QStyleOptionButton>

ClickButton::ClickButton(QWidget *parent)
    : QPushButton(parent), buttonColor(QColor::fromString(SettingsKeys::defaultButtonColor)),
      borderColor(QColor::fromString(SettingsKeys::defaultButtonBorderColor))
{
    setObjectName("clickButton");
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setMinimumSize(SettingsKeys::defaultButtonWidth, SettingsKeys::defaultButtonHeight);
    setCursor(Qt::PointingHandCursor);

    // One animation serves press and release, so a release mid-press turns back from where the
    // shrink has got to.
    scaleAnimation = new QPropertyAnimation(this, "scale", this);
    scaleAnimation->setDuration(100);
    scaleAnimation->setEasingCurve(QEasingCurve::OutCubic);

    updateStyle();
}

void ClickButton::setScale(double value)
{
    m_scale = value;
    update();
}

void ClickButton::setBorderWidth(int pixels)
{
    m_borderWidth = qMax(0, pixels);
    updateStyle();
}

void ClickButton::setBorderRadius(int pixels)
{
    borderRadius = qMax(0, pixels);
    updateStyle();
}

void ClickButton::setButtonColor(const QColor &color)
{
    buttonColor = color;
    updateStyle();
}

void ClickButton::setBorderColor(const QColor &color)
{
    borderColor = color;
    updateStyle();
}

void ClickButton::setButtonSize(int width, int height)
{
    requestedSize = QSize(width, height);
    setMinimumSize(width, height);
    resize(width, height);
}

QSize ClickButton::sizeHint() const
{
    return requestedSize.isValid() ? requestedSize : QPushButton::sizeHint();
}

bool ClickButton::event(QEvent *event)
{
    if (event->type() == QEvent::FocusIn)
        keyboardFocus = static_cast<QFocusEvent *>(event)->reason() != Qt::MouseFocusReason;
    const bool handled = QPushButton::event(event);
    // A style sheet's min-width/min-height is applied on every polish and would override the
    // size set through setButtonSize: on the first show (Polish) and on every restyle.
    if ((event->type() == QEvent::Polish || event->type() == QEvent::StyleChange) &&
        requestedSize.isValid() && minimumSize() != requestedSize)
        setMinimumSize(requestedSize);
    return handled;
}

void ClickButton::updateStyle()
{
    // White where the face lets it be read (24px bold needs 3:1), else the nearest grey that
    // can, on the plain face and the hovered and pressed one alike.
    const QColor ink =
        ReadableColour::nearest(QColor(Qt::white), {buttonColor, buttonColor.darker(115)}, 3.0);
    const QString style =
        QStringLiteral("QPushButton#clickButton {  background-color: %1;  color: %7;  "
                       "border: %2px solid %3;  border-radius: %4px;  font-size: 24px;  "
                       "font-weight: bold;}QPushButton#clickButton:hover {  background-color: "
                       "%5;  border-color: %6;}QPushButton#clickButton:pressed {  "
                       "background-color: %5;}")
            .arg(buttonColor.name())
            .arg(m_borderWidth)
            .arg(borderColor.name())
            .arg(borderRadius)
            .arg(buttonColor.darker(115).name())
            .arg(borderColor.lighter(120).name())
            .arg(ink.name());
    setStyleSheet(style);
    update();
}

void ClickButton::showFloatingText(int amount)
{
    auto *label = new QLabel(QStringLiteral("+%1").arg(amount), this);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The orange of the default face would vanish on it: a shade of it that stands out from
    // the face, plain and hovered, whatever colour the player gave the button.
    const QColor colour = ReadableColour::nearest(QColor(0xff, 0x8f, 0x00),
                                                  {buttonColor, buttonColor.darker(115)}, 3.0);
    label->setStyleSheet(
        QStringLiteral("color: %1;font-size: 20px;font-weight: bold;background: transparent;")
            .arg(colour.name()));
    label->setAlignment(Qt::AlignCenter);

    const int dx = int(QRandomGenerator::global()->bounded(60));
    const int dy = int(QRandomGenerator::global()->bounded(20));
    const QPoint start = rect().center() + QPoint(dx - 30, dy - 10);
    label->move(start);
    label->show();
    label->raise();

    auto *rise = new QPropertyAnimation(label, "pos", label);
    rise->setDuration(800);
    rise->setStartValue(start);
    rise->setEndValue(start + QPoint(0, -80));
    rise->setEasingCurve(QEasingCurve::OutCubic);

    auto *opacity = new QGraphicsOpacityEffect(label);
    label->setGraphicsEffect(opacity);
    auto *fade = new QPropertyAnimation(opacity, "opacity", label);
    fade->setDuration(800);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);

    connect(rise, &QAbstractAnimation::finished, label, &QObject::deleteLater);
    rise->start(QAbstractAnimation::DeleteWhenStopped);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void ClickButton::animateScaleTo(double target)
{
    scaleAnimation->stop();
    scaleAnimation->setStartValue(m_scale);
    scaleAnimation->setEndValue(target);
    scaleAnimation->start(QAbstractAnimation::KeepWhenStopped);
}

void ClickButton::mousePressEvent(QMouseEvent *event)
{
    // Playing with the mouse: the focus ring goes until focus comes from the keyboard again.
    keyboardFocus = false;
    if (event->button() == Qt::LeftButton) {
        animateScaleTo(0.92);
        showFloatingText(1);
    }
    withDeferredRepaint([this, event] { QAbstractButton::mousePressEvent(event); });
}

void ClickButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        animateScaleTo(1.0);
    withDeferredRepaint([this, event] { QAbstractButton::mouseReleaseEvent(event); });
}

void ClickButton::withDeferredRepaint(const std::function<void()> &handler)
{
    // The button repaints itself at once on press and release, and with it every click effect
    // drawn over it: with many effects alive that took longer than a frame per click. The new
    // look is painted with the next frame instead.
    if (!updatesEnabled()) {
        handler();
        return;
    }
    QPointer<ClickButton> self(this);
    setUpdatesEnabled(false);
    handler();
    if (self)
        setUpdatesEnabled(true);
}

void ClickButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!qFuzzyCompare(m_scale, 1.0)) {
        const QPointF centre = rect().center();
        painter.translate(centre);
        painter.scale(m_scale, m_scale);
        painter.translate(-centre);
    }

    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = rect();
    option.text = text();
    option.features = QStyleOptionButton::None;
    style()->drawControl(QStyle::CE_PushButton, &option, &painter, this);

    // The keyboard focus: two rings, the theme's text colour outside and its background inside,
    // so that one of them stands out from the window and the face whatever their colours.
    if (hasFocus() && keyboardFocus) {
        const QPalette theme = window()->palette();
        const QRectF outer = QRectF(rect()).adjusted(1, 1, -1, -1);
        const qreal radius = qMax(0, borderRadius - 1);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(theme.color(QPalette::WindowText), 2));
        painter.drawRoundedRect(outer, radius, radius);
        painter.setPen(QPen(theme.color(QPalette::Window), 2));
        painter.drawRoundedRect(outer.adjusted(2, 2, -2, -2), qMax<qreal>(0, radius - 2),
                                qMax<qreal>(0, radius - 2));
    }
}
