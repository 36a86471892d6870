#pragma once

#include "effectinfo.h"

#include <QEasingCurve>
#include <QMap>
#include <QObject>
#include <QPoint>
#include <QPointer>

class EffectLayer;
class QPropertyAnimation;
class QWidget;

// Keeps the per-effect switches (persisted under "effects_enabled") and plays click effects in an
// EffectLayer over the widget it was created for.
class EffectManager : public QObject
{
    Q_OBJECT

public:
    explicit EffectManager(QWidget *parent = nullptr);

    bool isEffectEnabled(int effectId) const;
    // Writes through at once, unless the flag already has that value.
    void setEffectEnabled(int effectId, bool enabled);
    // Switches every listed id on with at most one write, however long the list.
    void enableEffects(const QList<int> &effectIds);
    // How often the switches were written to the settings store.
    int settingsWrites() const { return writes; }
    void playEffect(int effectId, const QPoint &globalPos);
    // Where the effects are drawn; null without a widget.
    EffectLayer *effectLayer() const;

    // The compiled-in catalogue and price table; they do not depend on any instance.
    static int effectCount();
    static EffectInfo effectInfo(int effectId);
    static QString effectName(int effectId);
    static QString effectClass(int effectId);
    static int effectIdForClass(const QString &cssClass);
    static int effectPrice(int effectId);

private:
    friend class TestEffectManager;

    void startEffect(int effectId, const QPoint &globalPos);
    // Draws the images of the switched-on effects into the layer's caches.
    void prepareImages();
    void switchEffects(const QList<int> &effectIds, bool enabled);
    void saveSettings();
    void loadSettings();

    void playFloat(const EffectInfo &info, const QPoint &p);
    void playFall(const EffectInfo &info, const QPoint &p);
    void playRings(const EffectInfo &info, const QPoint &p);
    void playBurst(const EffectInfo &info, const QPoint &p);
    void playStreaks(const EffectInfo &info, const QPoint &p);
    void shakeWindow();
    void playBounceText(const EffectInfo &info, const QPoint &p);

    // Shared part of the symbol-drawing families: one symbol moved from start to end and faded.
    void playSymbolLabel(const EffectInfo &info, int pixelSize, bool bold, const QPoint &start,
                         const QPoint &end, int duration, QEasingCurve::Type easing, bool centred);

    QWidget *parentWidget;
    QMap<int, bool> enabledEffects;
    QPointer<EffectLayer> layer;
    int writes = 0;
    // False after a failed write, so that the next change is written even if it sets no new flag.
    bool storeInStep = true;

    // A shake that starts while another runs reuses the first one's home position, so that
    // overlapping shakes cannot walk the window away from where it was.
    QPointer<QPropertyAnimation> shakeAnimation;
    QPoint shakeHome;
};
