#pragma once

#include "effectinfo.h"

#include <QColor>
#include <QEasingCurve>
#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>

class QAbstractAnimation;
class QPainter;

// Draws every click effect of one window. A widget per drawn item (a label with its own style
// sheet, opacity effect and animations) cost 120 ms a frame with all effects on, so the items are
// plain records here, advanced together from one tick of the animation driver and painted from
// pre-rendered pixmaps. The layer covers the whole window, stays above its other children and
// lets the mouse through; with no item alive nothing runs.
class EffectLayer : public QWidget
{
    Q_OBJECT

public:
    explicit EffectLayer(QWidget *window);
    ~EffectLayer() override;

    // Where the symbol sits in the 100 x 30 box that moves: left and vertically centred, or
    // centred.
    enum class Placement
    {
        Left,
        Centre
    };

    // A symbol drawn in a 100 x 30 box whose top-left corner moves from `start` to `end` with
    // `easing`, fading linearly from opaque to transparent over `duration` ms. The font is the
    // layer's (the application style sheet's families) at `pixelSize`.
    void addSymbol(EffectType family, const QString &text, const QColor &color, int pixelSize,
                   bool bold, Placement placement, const QPoint &start, const QPoint &end,
                   int duration, QEasingCurve::Type easing);
    // A ring: a 3 px border with corner radius `radius` around a box that grows from `from` to
    // `to` (OutCubic) while it fades out.
    void addRing(const QColor &color, int radius, const QRect &from, const QRect &to, int duration);
    // A streak: a horizontal gradient strip, fully visible for `duration` ms and then gone.
    void addStreak(const QColor &color, const QRect &rect, int duration);

    // What one item looks like at the layer's current time.
    struct ItemState
    {
        EffectType family;
        QString text;
        QColor color;
        int pixelSize = 0;
        bool bold = false;
        Placement placement = Placement::Left;
        QRect from;     // box at the start
        QRect to;       // box at the end
        QRect geometry; // box now
        qreal opacity = 1.0;
        int duration = 0;
        QEasingCurve::Type easing = QEasingCurve::Linear;
    };

    int itemCount() const { return int(items.size()); }
    QVector<ItemState> itemStates() const;
    // True while the tick runs; it runs only while items are alive.
    bool isTicking() const;

    // Past this many live items the oldest are dropped: a bound on memory for ids or counts that
    // no catalogue entry has, far above what any click rate reaches.
    static constexpr int maxItems = 100000;

    // Replaces the clock (milliseconds, monotonic) so that tests can step through an item's
    // life; advance() then moves every item to the clock's time.
    void setClock(std::function<qint64()> clock);
    void advance();

    static constexpr QSize symbolBox{100, 30};

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    enum class Kind
    {
        Symbol,
        Ring,
        Streak
    };

    struct Item
    {
        ItemState state; // what is drawn, as tests see it
        Kind kind;
        qint64 startMs;
        QPixmap pixmap; // symbol: the glyph; streak: the strip
        QPoint offset;  // symbol: where the glyph sits inside its box
        int radius;     // ring only
        int sprite;     // ring: its corners in ringSprites
    };

    static Item makeItem(Kind kind, EffectType family, const QColor &color, const QRect &from,
                         const QRect &to, int duration, QEasingCurve::Type easing);
    void addItem(Item item);
    void stepItem(Item &item, qint64 now) const;
    QRect paintedRect(const Item &item) const;
    void drawRing(QPainter *painter, const Item &item) const;
    void markDirty(const QRect &rect);
    void flushDirty();
    qint64 now() const;

    QPixmap symbolPixmap(const QString &text, const QColor &color, int pixelSize, bool bold,
                         Placement placement, QPoint *offset);
    int ringSprite(const QColor &color, int radius);
    QPixmap streakPixmap(const QColor &color, const QSize &size);

    QVector<Item> items;
    QAbstractAnimation *ticker = nullptr;
    std::function<qint64()> clock;

    struct Glyph
    {
        QPixmap pixmap;
        QPoint offset;
    };
    QHash<QString, Glyph> glyphs;
    struct RingSprite
    {
        QPixmap corners[4]; // top left, top right, bottom left, bottom right
        QColor edge;
        int corner = 0;
    };
    QVector<RingSprite> ringSprites;
    QHash<QString, int> ringIndex;
    QHash<QString, QPixmap> streakImages;

    QRect dirty; // what the next repaint must cover
};
