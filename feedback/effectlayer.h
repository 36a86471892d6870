#pragma once

#include "effectinfo.h"

#include <QColor>
#include <QEasingCurve>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>

class QAbstractAnimation;
class QPainter;

// Present while the layer renders its items itself, off the painter, in bands on several threads
// (renderFrame, setPaintThreads); the benchmark uses it to tell the builds apart.
#define TAPTEMPEST_EFFECTLAYER_BANDS 1

// Draws every click effect of one window. A widget per drawn item (a label with its own style
// sheet, opacity effect and animations) cost 120 ms a frame with all effects on, so the items are
// plain records here, advanced together from one tick of the animation driver and drawn from
// pre-rendered images. The layer covers the whole window, stays above its other children and
// lets the mouse through; with no item alive nothing runs.
//
// Drawing: each change of the items is rendered once into the layer's own image, in horizontal
// bands on a thread pool, with the blend of Qt's raster engine (source over, at the item's
// opacity) applied to the inked pixels of each image only. Every paint of the layer, however many
// a tick brings (the shake's window moves repaint the window), puts that image on the window with
// one drawImage.
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

    // Threads that render the items: 0 (the default) takes one per core, at most 8; the GUI thread
    // is one of them. Bands give exactly the image one thread gives.
    void setPaintThreads(int threads);
    int paintThreads() const;
    // The items at their current state rendered alone into a transparent image of the layer's
    // size (device pixels), with `threads` threads (0: as set), and optionally only one family.
    QImage renderFrame(int threads = 0, int onlyFamily = -1);
    // Draws a symbol's or a ring's image ahead of its first use (as addSymbol and addRing would),
    // so that the first click does not pay for it.
    void prepareSymbol(const QString &text, const QColor &color, int pixelSize, bool bold,
                       Placement placement);
    void prepareRing(const QColor &color, int radius);
    // How many times the items were rendered for the screen.
    int renderCount() const { return renders; }

    static constexpr QSize symbolBox{100, 30};

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    friend class EffectLayerTicker;
    // The animation driver's tick: advance() unless the last render asks for a pause.
    void tick();

    enum class Kind
    {
        Symbol,
        Ring,
        Streak
    };

public:
    // A premultiplied image in device pixels with, for each row, the span of pixels that have
    // ink: only those are blended.
    struct Sprite
    {
        QImage image;
        QSizeF logicalSize;
        QVector<quint16> first; // per row: first inked pixel
        QVector<quint16> end;   // per row: one past the last inked pixel (first == end: none)
        const quint32 *pixels = nullptr; // the image's pixels, read by the rendering threads
        qsizetype stride = 0;            // pixels per row
        // Finds the spans, widened over transparent pixels to whole groups of four where the row
        // allows: blending a transparent pixel leaves it as it was.
        void trim();
    };
    struct RingSprite
    {
        Sprite corners[4]; // top left, top right, bottom left, bottom right
        quint32 edge = 0;  // premultiplied colour of the straight edges
        int corner = 0;
    };
    struct Op; // one item as the renderer draws it

private:
    struct Item
    {
        ItemState state; // what is drawn, as tests see it
        Kind kind;
        qint64 startMs;
        std::shared_ptr<const Sprite> sprite; // symbol: the glyph; streak: the strip
        std::shared_ptr<const RingSprite> ring;
        QPoint offset; // symbol: where the glyph sits inside its box
        int radius;    // ring only
    };

    static Item makeItem(Kind kind, EffectType family, const QColor &color, const QRect &from,
                         const QRect &to, int duration, QEasingCurve::Type easing);
    void addItem(Item item);
    void stepItem(Item &item, qint64 now) const;
    QRect paintedRect(const Item &item) const;
    void markDirty(const QRect &rect);
    void flushDirty();
    qint64 now() const;
    // The draw list of the items (in their order) that touch `deviceRect`, and the bounds of all.
    QRect buildOps(std::vector<Op> *ops, const QRect &deviceRect, int onlyFamily) const;
    // Renders `deviceRect` of `image`; returns the device bounds of all items.
    QRect renderInto(QImage *image, const QRect &deviceRect, int threads, int onlyFamily) const;
    int threadsFor(int requested) const;
    void renderPending();

    std::shared_ptr<const Sprite> symbolSprite(const QString &text, const QColor &color,
                                               int pixelSize, bool bold, Placement placement,
                                               QPoint *offset);
    std::shared_ptr<const RingSprite> ringSprite(const QColor &color, int radius);
    std::shared_ptr<const Sprite> streakSprite(const QColor &color, const QSize &size);

    QVector<Item> items;
    QAbstractAnimation *ticker = nullptr;
    std::function<qint64()> clock;

    struct Glyph
    {
        std::shared_ptr<const Sprite> sprite;
        QPoint offset;
    };
    QHash<QString, Glyph> glyphs;
    QHash<QString, std::shared_ptr<const RingSprite>> ringSprites;
    QHash<QString, std::shared_ptr<const Sprite>> streakImages;

    QRect dirty;       // what the next repaint must cover (logical)
    QRect stale;       // what the image must render again before it is shown (logical)
    QImage frame;      // the items as last rendered, device pixels
    QRect frameBounds; // where `frame` may hold ink (device pixels)
    int threads = 0;
    int renders = 0;
    // Input before frames: a tick that comes sooner after the last render than that render took
    // draws nothing, so that rendering never takes more than about half of the loop.
    qint64 lastRenderNs = 0;
    qint64 lastRenderEndNs = 0;
    int skippedTicks = 0;
    bool advancedSinceRender = false;
};
