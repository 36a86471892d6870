#include "effectlayer.h"

#include <QAbstractAnimation>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

// Drives the layer from the animation driver's tick, as the labels' animations were driven.
class EffectLayerTicker : public QAbstractAnimation
{
public:
    EffectLayerTicker(EffectLayer *layer) : QAbstractAnimation(layer), layer(layer) {}
    int duration() const override { return -1; }

protected:
    void updateCurrentTime(int) override { layer->tick(); }

private:
    EffectLayer *layer;
};

// One item as the renderer draws it: a sprite at a device position, or a ring's box.
struct EffectLayer::Op
{
    const Sprite *sprite = nullptr;
    const RingSprite *ring = nullptr;
    int x = 0, y = 0, w = 0, h = 0; // device pixels
    quint32 alpha = 255;            // the painter's constant alpha for the item's opacity
    int corner = 0, border = 0;     // ring only, device pixels
};

namespace {

constexpr int ringBorder = 3;

// ---- Blending ----------------------------------------------------------------------------------
// Source over with a constant alpha, as Qt's raster engine blends a premultiplied image drawn at
// an opacity (qt_blend_argb32_on_argb32): s = src * ca, dst = s + dst * (255 - alpha(s)), each
// product rounded as BYTE_MUL rounds it. At full opacity the engine skips the product; it is
// exact (x * 255 / 255 == x), so one formula serves both.

inline quint32 byteMul(quint32 x, quint32 a)
{
    quint64 t = ((quint64(x) | (quint64(x) << 24)) & 0x00ff00ff00ff00ffULL) * a;
    t = (t + ((t >> 8) & 0x00ff00ff00ff00ffULL) + 0x0080008000800080ULL) >> 8;
    t &= 0x00ff00ff00ff00ffULL;
    return quint32(t) | quint32(t >> 24);
}

inline quint32 blendPixel(quint32 s, quint32 d)
{
    return s + byteMul(d, 255 - (s >> 24));
}

#ifdef __SSE2__
// BYTE_MUL on four pixels; `a` holds the factor in every 16-bit lane (the same rounding).
inline __m128i byteMul4(__m128i x, __m128i a)
{
    const __m128i mask = _mm_set1_epi32(0x00ff00ff);
    const __m128i half = _mm_set1_epi16(0x80);
    __m128i ag = _mm_srli_epi16(x, 8);
    __m128i rb = _mm_and_si128(x, mask);
    ag = _mm_mullo_epi16(ag, a);
    rb = _mm_mullo_epi16(rb, a);
    rb = _mm_add_epi16(rb, _mm_srli_epi16(rb, 8));
    rb = _mm_add_epi16(rb, half);
    ag = _mm_add_epi16(ag, _mm_srli_epi16(ag, 8));
    ag = _mm_add_epi16(ag, half);
    rb = _mm_srli_epi16(rb, 8);
    ag = _mm_andnot_si128(mask, ag);
    return _mm_or_si128(ag, rb);
}

inline __m128i blend4(__m128i s, __m128i d)
{
    __m128i alpha = _mm_srli_epi32(s, 24);
    alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
    const __m128i inverse = _mm_sub_epi16(_mm_set1_epi16(255), alpha);
    return _mm_add_epi8(s, byteMul4(d, inverse));
}
#endif

void blendSpan(quint32 *dst, const quint32 *src, int n, quint32 alpha)
{
    int i = 0;
#ifdef __SSE2__
    const __m128i factor = _mm_set1_epi16(short(alpha));
    for (; i + 4 <= n; i += 4) {
        __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
        if (alpha != 255)
            s = byteMul4(s, factor);
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dst + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), blend4(s, d));
    }
#endif
    for (; i < n; ++i)
        dst[i] = blendPixel(alpha == 255 ? src[i] : byteMul(src[i], alpha), dst[i]);
}

void blendSolid(quint32 *dst, quint32 color, int n, quint32 alpha)
{
    const quint32 s = alpha == 255 ? color : byteMul(color, alpha);
    int i = 0;
#ifdef __SSE2__
    const __m128i source = _mm_set1_epi32(int(s));
    for (; i + 4 <= n; i += 4) {
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dst + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), blend4(source, d));
    }
#endif
    for (; i < n; ++i)
        dst[i] = blendPixel(s, dst[i]);
}

// The constant alpha QPainter gives the blend for an opacity: (int(opacity * 256) * 255) >> 8.
quint32 constantAlpha(qreal opacity)
{
    if (opacity >= 1.0)
        return 255;
    return quint32((int(opacity * 256) * 255) >> 8);
}

QThreadPool *bandPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool(QCoreApplication::instance());
        p->setObjectName("effectLayerBands");
        p->setMaxThreadCount(7);
        return p;
    }();
    return pool;
}

QRect toDevice(const QRect &r, qreal dpr)
{
    if (dpr == 1.0 || r.isEmpty())
        return r;
    return QRect(QPoint(int(std::floor(r.left() * dpr)), int(std::floor(r.top() * dpr))),
                 QPoint(int(std::ceil((r.right() + 1) * dpr)) - 1,
                        int(std::ceil((r.bottom() + 1) * dpr)) - 1));
}

// Interpolation as QVariantAnimation does it: a point moves by the rounded offset, a rectangle's
// edges each truncate.
QPoint interpolate(const QPoint &from, const QPoint &to, qreal progress)
{
    return from + (to - from) * progress;
}

int interpolate(int from, int to, qreal progress)
{
    return int(from + (to - from) * progress);
}

QRect interpolate(const QRect &from, const QRect &to, qreal progress)
{
    QRect r;
    r.setCoords(interpolate(from.left(), to.left(), progress),
                interpolate(from.top(), to.top(), progress),
                interpolate(from.right(), to.right(), progress),
                interpolate(from.bottom(), to.bottom(), progress));
    return r;
}

const QEasingCurve &curve(QEasingCurve::Type type)
{
    static QHash<int, QEasingCurve> curves;
    auto it = curves.find(int(type));
    if (it == curves.end())
        it = curves.insert(int(type), QEasingCurve(type));
    return it.value();
}

QElapsedTimer &monotonic()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}

} // namespace

EffectLayer::EffectLayer(QWidget *window) : QWidget(window)
{
    setObjectName("effectLayer");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    ticker = new EffectLayerTicker(this);
    if (window) {
        setGeometry(window->rect());
        window->installEventFilter(this);
    }
    raise();
    show();
}

EffectLayer::~EffectLayer()
{
    ticker->stop();
}

void EffectLayer::setClock(std::function<qint64()> newClock)
{
    clock = std::move(newClock);
}

qint64 EffectLayer::now() const
{
    return clock ? clock() : monotonic().elapsed();
}

bool EffectLayer::isTicking() const
{
    return ticker->state() == QAbstractAnimation::Running;
}

void EffectLayer::addSymbol(EffectType family, const QString &text, const QColor &color,
                            int pixelSize, bool bold, Placement placement, const QPoint &start,
                            const QPoint &end, int duration, QEasingCurve::Type easing)
{
    Item item = makeItem(Kind::Symbol, family, color, QRect(start, symbolBox),
                         QRect(end, symbolBox), duration, easing);
    item.state.text = text;
    item.state.pixelSize = pixelSize;
    item.state.bold = bold;
    item.state.placement = placement;
    if (!text.isEmpty())
        item.sprite = symbolSprite(text, color, pixelSize, bold, placement, &item.offset);
    addItem(std::move(item));
}

void EffectLayer::addRing(const QColor &color, int radius, const QRect &from, const QRect &to,
                          int duration)
{
    Item item =
        makeItem(Kind::Ring, EffectType::Ring, color, from, to, duration, QEasingCurve::OutCubic);
    item.radius = radius;
    item.ring = ringSprite(color, radius);
    addItem(std::move(item));
}

void EffectLayer::addStreak(const QColor &color, const QRect &rect, int duration)
{
    Item item = makeItem(Kind::Streak, EffectType::Streak, color, rect, rect, duration,
                         QEasingCurve::Linear);
    item.sprite = streakSprite(color, rect.size());
    addItem(std::move(item));
}

EffectLayer::Item EffectLayer::makeItem(Kind kind, EffectType family, const QColor &color,
                                        const QRect &from, const QRect &to, int duration,
                                        QEasingCurve::Type easing)
{
    Item item{};
    item.kind = kind;
    item.state.family = family;
    item.state.color = color;
    item.state.from = from;
    item.state.to = to;
    item.state.duration = duration;
    item.state.easing = easing;
    return item;
}

void EffectLayer::addItem(Item item)
{
    // A finished animation ends its label at once: an item without a duration is never seen.
    if (item.state.duration <= 0)
        return;
    if (items.size() >= maxItems) {
        const int drop = int(items.size()) - maxItems + 1;
        for (int i = 0; i < drop; ++i)
            markDirty(paintedRect(items.at(i)));
        items.erase(items.begin(), items.begin() + drop);
    }
    item.startMs = now();
    stepItem(item, item.startMs);
    markDirty(paintedRect(item));
    items.append(std::move(item));

    QWidget *window = parentWidget();
    if (window && window->children().constLast() != this)
        raise();
    // The next tick repaints what was added; one click adds hundreds of items.
    if (!isTicking())
        ticker->start();
}

void EffectLayer::stepItem(Item &item, qint64 time) const
{
    const qreal progress =
        std::clamp(qreal(time - item.startMs) / qreal(item.state.duration), qreal(0), qreal(1));
    const qreal eased = curve(item.state.easing).valueForProgress(progress);
    switch (item.kind) {
    case Kind::Symbol:
        item.state.geometry = QRect(
            interpolate(item.state.from.topLeft(), item.state.to.topLeft(), eased), symbolBox);
        item.state.opacity = 1.0 - progress;
        break;
    case Kind::Ring:
        item.state.geometry = interpolate(item.state.from, item.state.to, eased);
        item.state.opacity = 1.0 - progress;
        break;
    case Kind::Streak:
        // A child widget ignores window opacity: the streak never fades.
        item.state.geometry = item.state.from;
        item.state.opacity = 1.0;
        break;
    }
}

QRect EffectLayer::paintedRect(const Item &item) const
{
    if (item.kind == Kind::Symbol) {
        if (!item.sprite)
            return QRect();
        const QSizeF size = item.sprite->logicalSize;
        return QRect(item.state.geometry.topLeft() + item.offset,
                     QSize(int(std::ceil(size.width())), int(std::ceil(size.height()))));
    }
    return item.state.geometry;
}

void EffectLayer::tick()
{
    // Input before frames: when the last render took longer than the loop has had since, this
    // tick is left out and the next one moves every item to its own time. The items' state
    // depends on the clock alone, so nothing is lost but the frame. Never two ticks in a row.
    // A render that took more than half a frame's time (8 ms) keeps the loop for longer: then
    // rendering gets at most a third of the loop, and the frame rate may fall to a sixth.
    if (lastRenderNs > 0) {
        const qint64 since = monotonic().nsecsElapsed() - lastRenderEndNs;
        const bool heavy = lastRenderNs > 8000000;
        const qint64 pause = heavy ? 2 * lastRenderNs : lastRenderNs;
        if (since < pause && skippedTicks < (heavy ? 5 : 1)) {
            ++skippedTicks;
            return;
        }
    }
    skippedTicks = 0;
    advance();
}

void EffectLayer::advance()
{
    const qint64 time = now();
    int kept = 0;
    for (int i = 0; i < items.size(); ++i) {
        Item &item = items[i];
        const QRect before = paintedRect(item);
        if (time - item.startMs >= item.state.duration) {
            markDirty(before);
            continue;
        }
        stepItem(item, time);
        const QRect after = paintedRect(item);
        markDirty(before == after ? after : before.united(after));
        if (kept != i)
            items[kept] = std::move(item);
        ++kept;
    }
    items.resize(kept);
    advancedSinceRender = true;
    if (items.isEmpty()) {
        ticker->stop();
        items.squeeze();
        // Nothing is drawn any more: the window repaints what the items covered.
        frame = QImage();
        frameBounds = QRect();
        stale = QRect();
        lastRenderNs = 0;
        // A burst of clicks leaves megabytes of freed records and draw lists with the
        // allocator; the game may sit idle now, so they go back to the system.
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    }
    flushDirty();
}

QVector<EffectLayer::ItemState> EffectLayer::itemStates() const
{
    QVector<ItemState> states;
    states.reserve(items.size());
    for (const Item &item : items)
        states.append(item.state);
    return states;
}

void EffectLayer::markDirty(const QRect &rect)
{
    const QRect inside = rect.intersected(this->rect());
    dirty |= inside;
    stale |= inside;
}

void EffectLayer::flushDirty()
{
    // One rectangle, not the exact region: under a clip of many rectangles the raster engine
    // blends every pixmap on its slow path, which cost more than the extra area does.
    if (dirty.isEmpty())
        return;
    update(dirty);
    dirty = QRect();
}

void EffectLayer::setPaintThreads(int count)
{
    threads = std::max(0, count);
}

int EffectLayer::paintThreads() const
{
    return threadsFor(threads);
}

int EffectLayer::threadsFor(int requested) const
{
    if (requested <= 0)
        requested = QThread::idealThreadCount();
    return std::clamp(requested, 1, 8);
}

QRect EffectLayer::buildOps(std::vector<Op> *ops, const QRect &deviceRect, int onlyFamily) const
{
    const qreal dpr = devicePixelRatioF();
    const auto scaled = [dpr](int v) { return dpr == 1.0 ? v : qRound(v * dpr); };
    const int border = scaled(ringBorder);
    QRect bounds;
    ops->clear();
    ops->reserve(size_t(items.size()));
    // Later items are drawn over earlier ones, as later labels stacked above earlier ones.
    for (const Item &item : items) {
        if (onlyFamily >= 0 && int(item.state.family) != onlyFamily)
            continue;
        if (item.kind != Kind::Ring && !item.sprite)
            continue;
        // Items the blend would leave untouched are not drawn: a constant alpha of 0.
        const quint32 alpha = constantAlpha(item.state.opacity);
        if (item.state.opacity <= 0.0 || alpha == 0)
            continue;
        Op op;
        op.alpha = alpha;
        if (item.kind == Kind::Ring) {
            const QRect box = item.state.geometry;
            op.ring = item.ring.get();
            op.x = scaled(box.x());
            op.y = scaled(box.y());
            op.w = scaled(box.x() + box.width()) - op.x;
            op.h = scaled(box.y() + box.height()) - op.y;
            op.corner = op.ring->corners[0].image.width();
            op.border = border;
        } else {
            const QPoint at = item.state.geometry.topLeft() + item.offset;
            op.sprite = item.sprite.get();
            op.x = scaled(at.x());
            op.y = scaled(at.y());
            op.w = op.sprite->image.width();
            op.h = op.sprite->image.height();
        }
        const QRect box(op.x, op.y, op.w, op.h);
        bounds |= box;
        // Wholly outside what is rendered (or outside the window): nothing to draw.
        if (!box.intersects(deviceRect))
            continue;
        ops->push_back(op);
    }
    return bounds;
}

namespace {

// Blends the ops into rows [top, bottom) and columns [left, right) of `bits`, which it clears
// first. Every row is worked on its own, in item order, so any split into bands gives the same
// pixels.
void renderBand(uchar *bits, qsizetype bpl, const std::vector<EffectLayer::Op> &ops, int left,
                int right, int top, int bottom);

} // namespace

QRect EffectLayer::renderInto(QImage *image, const QRect &deviceRect, int threadCount,
                              int onlyFamily) const
{
    std::vector<Op> ops;
    const QRect bounds = buildOps(&ops, deviceRect, onlyFamily);
    const QRect area = deviceRect.intersected(image->rect());
    if (area.isEmpty())
        return bounds;
    uchar *bits = image->bits(); // detached here, on this thread
    const qsizetype bpl = image->bytesPerLine();
    const int count = threadsFor(threadCount);
    if (count == 1 || ops.size() < 64 || area.height() < 2 * count) {
        renderBand(bits, bpl, ops, area.left(), area.right() + 1, area.top(), area.bottom() + 1);
        return bounds;
    }

    // Bands of about equal work: what each row costs, from the items that cross it.
    const int rows = area.height();
    std::vector<qint64> delta(size_t(rows) + 1, 0);
    for (const Op &op : ops) {
        const int from = std::max(op.y, area.top()) - area.top();
        const int to = std::min(op.y + op.h, area.bottom() + 1) - area.top();
        if (from >= to)
            continue;
        const qint64 cost = op.ring ? 24 : 12 + std::min(op.w, area.width()) / 2;
        delta[size_t(from)] += cost;
        delta[size_t(to)] -= cost;
    }
    std::vector<qint64> cumulative(size_t(rows) + 1, 0);
    qint64 running = 0;
    for (int y = 0; y < rows; ++y) {
        running += delta[size_t(y)];
        cumulative[size_t(y) + 1] = cumulative[size_t(y)] + running + area.width() / 16;
    }
    const int bandCount = std::min(rows, count * 3);
    std::vector<int> edges{0};
    for (int b = 1; b < bandCount; ++b) {
        const qint64 target = cumulative.back() * b / bandCount;
        const auto it = std::lower_bound(cumulative.begin(), cumulative.end(), target);
        const int y = std::clamp(int(it - cumulative.begin()), edges.back() + 1, rows - 1);
        if (y > edges.back() && y < rows)
            edges.push_back(y);
    }
    edges.push_back(rows);

    // The GUI thread takes bands too; helpers that start late find none left and end. Only
    // the bands taken are waited for.
    struct Job
    {
        std::atomic<int> next{0};
        QSemaphore done;
    };
    const auto job = std::make_shared<Job>();
    const int bands = int(edges.size()) - 1;
    const auto work = [job, bands, &edges, &ops, bits, bpl, area] {
        for (int b; (b = job->next.fetch_add(1)) < bands;) {
            renderBand(bits, bpl, ops, area.left(), area.right() + 1, area.top() + edges[size_t(b)],
                       area.top() + edges[size_t(b) + 1]);
            job->done.release();
        }
    };
    QThreadPool *pool = bandPool();
    for (int i = 1; i < count; ++i)
        pool->start(work);
    work();
    job->done.acquire(bands);
    return bounds;
}

namespace {

void renderBand(uchar *bits, qsizetype bpl, const std::vector<EffectLayer::Op> &ops, int left,
                int right, int top, int bottom)
{
    for (int y = top; y < bottom; ++y)
        std::memset(bits + y * bpl + left * 4, 0, size_t(right - left) * 4);
    const auto row = [bits, bpl](int y) { return reinterpret_cast<quint32 *>(bits + y * bpl); };
    // One row of a sprite at (x, y of the row), clipped to the band's columns.
    const auto spriteRow = [&](const EffectLayer::Sprite &sprite, int sy, int x, quint32 *dst,
                               quint32 alpha) {
        const int first = x + sprite.first[sy];
        const int end = x + sprite.end[sy];
        const int from = std::max(first, left);
        const int to = std::min(end, right);
        if (from >= to)
            return;
        blendSpan(dst + from, sprite.pixels + sy * sprite.stride + (from - x), to - from, alpha);
    };
    const auto solid = [&](quint32 *dst, int x, int w, quint32 color, quint32 alpha) {
        const int from = std::max(x, left);
        const int to = std::min(x + w, right);
        if (from < to)
            blendSolid(dst + from, color, to - from, alpha);
    };
    for (const EffectLayer::Op &op : ops) {
        const int from = std::max(op.y, top);
        const int to = std::min(op.y + op.h, bottom);
        if (from >= to || op.x >= right || op.x + op.w <= left)
            continue;
        if (op.sprite) {
            for (int y = from; y < to; ++y)
                spriteRow(*op.sprite, y - op.y, op.x, row(y), op.alpha);
            continue;
        }
        // A ring: its four corners as drawn by the style sheet, joined by straight edges of the
        // border's colour. Per pixel the pieces come in the order the painter drew them: the
        // corners (top left, top right, bottom left, bottom right), then the top, bottom, left
        // and right edges.
        const EffectLayer::RingSprite &ring = *op.ring;
        const int c = op.corner;
        const int b = op.border;
        const int rightX = op.x + op.w - c;
        const int middleWidth = op.w - 2 * c;
        const int middleHeight = op.h - 2 * c;
#ifdef __SSE2__
        const quint32 edge = op.alpha == 255 ? ring.edge : byteMul(ring.edge, op.alpha);
        const __m128i leftEdge = _mm_setr_epi32(int(edge), int(edge), int(edge), 0);
        const __m128i rightEdge = _mm_setr_epi32(0, int(edge), int(edge), int(edge));
#endif
        for (int y = from; y < to; ++y) {
            quint32 *dst = row(y);
            const int r = y - op.y;
            if (r < c) {
                spriteRow(ring.corners[0], r, op.x, dst, op.alpha);
                spriteRow(ring.corners[1], r, rightX, dst, op.alpha);
            }
            if (r >= op.h - c) {
                spriteRow(ring.corners[2], r - (op.h - c), op.x, dst, op.alpha);
                spriteRow(ring.corners[3], r - (op.h - c), rightX, dst, op.alpha);
            }
            if (middleWidth > 0) {
                if (r < b)
                    solid(dst, op.x + c, middleWidth, ring.edge, op.alpha);
                if (r >= op.h - b)
                    solid(dst, op.x + c, middleWidth, ring.edge, op.alpha);
            }
            if (middleHeight > 0 && r >= c && r < op.h - c) {
#ifdef __SSE2__
                // The 3 px side edges as four pixels each, the fourth left as it is.
                if (b == 3 && op.x >= left && op.x + op.w <= right && op.w >= 8) {
                    auto *l = reinterpret_cast<__m128i *>(dst + op.x);
                    auto *rr = reinterpret_cast<__m128i *>(dst + op.x + op.w - 4);
                    _mm_storeu_si128(l, blend4(leftEdge, _mm_loadu_si128(l)));
                    _mm_storeu_si128(rr, blend4(rightEdge, _mm_loadu_si128(rr)));
                    continue;
                }
#endif
                solid(dst, op.x, b, ring.edge, op.alpha);
                solid(dst, op.x + op.w - b, b, ring.edge, op.alpha);
            }
        }
    }
}

} // namespace

void EffectLayer::prepareSymbol(const QString &text, const QColor &color, int pixelSize, bool bold,
                                Placement placement)
{
    QPoint offset;
    if (!text.isEmpty())
        symbolSprite(text, color, pixelSize, bold, placement, &offset);
}

void EffectLayer::prepareRing(const QColor &color, int radius)
{
    ringSprite(color, radius);
}

QImage EffectLayer::renderFrame(int threadCount, int onlyFamily)
{
    const qreal dpr = devicePixelRatioF();
    QImage image((QSizeF(size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    renderInto(&image, image.rect(), threadCount <= 0 ? threads : threadCount, onlyFamily);
    return image;
}

void EffectLayer::renderPending()
{
    const qreal dpr = devicePixelRatioF();
    const QSize deviceSize = (QSizeF(size()) * dpr).toSize();
    if (frame.size() != deviceSize || frame.devicePixelRatio() != dpr) {
        frame = QImage(deviceSize, QImage::Format_ARGB32_Premultiplied);
        frame.setDevicePixelRatio(dpr);
        frame.fill(Qt::transparent);
        frameBounds = QRect();
        stale = rect();
        advancedSinceRender = true;
    }
    // Items added since the last tick are first drawn by the next one, as a new label was first
    // painted with the next frame: a paint of the window in between (the button's, a "+1"
    // label's) shows the frame as it was and renders nothing.
    if (stale.isEmpty() || !advancedSinceRender)
        return;
    advancedSinceRender = false;
    // What the items covered and now cover is cleared and drawn again; elsewhere the image
    // holds nothing, so the items' bounds say where it may have ink.
    frameBounds = renderInto(&frame, toDevice(stale, dpr), threads, -1).intersected(frame.rect());
    stale = QRect();
    ++renders;
}

void EffectLayer::paintEvent(QPaintEvent *event)
{
    if (items.isEmpty())
        return;
    const qint64 start = monotonic().nsecsElapsed();
    const int rendersBefore = renders;
    // Rendered once per change of the items: a second paint in the same tick (the window's move
    // in a shake exposes it again) only puts the image on the window again.
    renderPending();
    const qreal dpr = devicePixelRatioF();
    const QRect target = toDevice(event->rect(), dpr).intersected(frameBounds);
    if (!target.isEmpty()) {
        QPainter painter(this);
        painter.drawImage(QRectF(QPointF(target.topLeft()) / dpr, QSizeF(target.size()) / dpr),
                          frame, QRectF(target));
    }
    if (renders != rendersBefore) {
        lastRenderEndNs = monotonic().nsecsElapsed();
        lastRenderNs = lastRenderEndNs - start;
    }
}

bool EffectLayer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget()) {
        if (event->type() == QEvent::Resize)
            setGeometry(parentWidget()->rect());
        else if (event->type() == QEvent::ChildAdded)
            raise();
    }
    return QWidget::eventFilter(watched, event);
}

void EffectLayer::changeEvent(QEvent *event)
{
    // A new style sheet may bring other font families; glyphs already drawn keep theirs.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        glyphs.clear();
    QWidget::changeEvent(event);
}

void EffectLayer::Sprite::trim()
{
    logicalSize = image.deviceIndependentSize();
    first.resize(image.height());
    end.resize(image.height());
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        int l = 0;
        int r = image.width();
        while (l < r && qAlpha(line[l]) == 0)
            ++l;
        while (r > l && qAlpha(line[r - 1]) == 0)
            --r;
        if (l < r && image.width() >= 4) {
            const int padded = (r - l + 3) / 4 * 4;
            if (padded >= image.width()) {
                l = 0;
                r = image.width();
            } else {
                r = l + padded;
                if (r > image.width()) {
                    l -= r - image.width();
                    r = image.width();
                }
            }
        }
        first[y] = quint16(l);
        end[y] = quint16(r);
    }
    pixels = reinterpret_cast<const quint32 *>(image.constBits());
    stride = image.bytesPerLine() / 4;
}

std::shared_ptr<const EffectLayer::Sprite>
EffectLayer::symbolSprite(const QString &text, const QColor &color, int pixelSize, bool bold,
                          Placement placement, QPoint *offset)
{
    const qreal dpr = devicePixelRatioF();
    QFont font = this->font();
    font.setPixelSize(pixelSize);
    if (bold)
        font.setBold(true);
    const QString key = QStringLiteral("%1|%2|%3|%4|%5")
                            .arg(text, color.name(QColor::HexArgb), font.key())
                            .arg(int(placement))
                            .arg(dpr);
    auto it = glyphs.constFind(key);
    if (it != glyphs.constEnd()) {
        *offset = it->offset;
        return it->sprite;
    }

    const QRect box(QPoint(0, 0), symbolBox);
    const int flags = (placement == Placement::Centre ? int(Qt::AlignCenter)
                                                      : int(Qt::AlignLeft | Qt::AlignVCenter)) |
                      Qt::TextForceLeftToRight;
    // Drawn once into the whole box, then cut to the pixels that show ink: a label clips to its
    // box, and every transparent pixel kept would be blended again in every frame.
    QImage image(symbolBox * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setFont(font);
        p.setPen(color);
        p.drawText(box, flags, text);
    }
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) == 0)
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    Glyph glyph;
    if (right >= 0) {
        // Whole logical pixels, so that the glyph lands where the label drew it.
        const int l = int(std::floor(left / dpr));
        const int t = int(std::floor(top / dpr));
        const int r = int(std::ceil((right + 1) / dpr));
        const int b = int(std::ceil((bottom + 1) / dpr));
        const QRect ink(QPoint(qRound(l * dpr), qRound(t * dpr)),
                        QPoint(qRound(r * dpr) - 1, qRound(b * dpr) - 1));
        auto sprite = std::make_shared<Sprite>();
        sprite->image = image.copy(ink.intersected(image.rect()));
        sprite->image.setDevicePixelRatio(dpr);
        sprite->trim();
        glyph.sprite = std::move(sprite);
        glyph.offset = QPoint(l, t);
    }
    glyphs.insert(key, glyph);
    *offset = glyph.offset;
    return glyph.sprite;
}

std::shared_ptr<const EffectLayer::RingSprite> EffectLayer::ringSprite(const QColor &color,
                                                                       int radius)
{
    const qreal dpr = devicePixelRatioF();
    const QString key =
        QStringLiteral("%1|%2|%3").arg(color.name(QColor::HexArgb)).arg(radius).arg(dpr);
    auto it = ringSprites.constFind(key);
    if (it != ringSprites.constEnd())
        return it.value();

    // Drawn once, by the same style-sheet rule a ring label had, at the smallest box that holds
    // four corners of the radius. The radius stays while the box widens, so a ring of any size
    // is these corners joined by straight 3 px edges.
    const int corner = std::max(radius, ringBorder);
    const int side = 2 * corner + 2;
    QLabel painter;
    painter.setAttribute(Qt::WA_DontShowOnScreen);
    painter.resize(side, side);
    painter.setStyleSheet(
        QStringLiteral("background: transparent; border: 3px solid %1; border-radius: %2px;")
            .arg(color.name())
            .arg(radius));
    painter.ensurePolished();
    QImage image(QSize(side, side) * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    painter.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);

    auto sprite = std::make_shared<RingSprite>();
    sprite->corner = corner;
    const int c = qRound(corner * dpr);
    const int far = qRound((corner + 2) * dpr);
    const QPoint origins[4] = {{0, 0}, {far, 0}, {0, far}, {far, far}};
    for (int i = 0; i < 4; ++i) {
        sprite->corners[i].image = image.copy(QRect(origins[i], QSize(c, c)));
        sprite->corners[i].image.setDevicePixelRatio(dpr);
        sprite->corners[i].trim();
    }
    // The edge is the border's colour, opaque, as the middle of the top border shows it.
    const QColor edge = QColor::fromRgba(qUnpremultiply(image.pixel(image.width() / 2, 0)));
    sprite->edge = qPremultiply(edge.rgba());
    ringSprites.insert(key, sprite);
    return sprite;
}

std::shared_ptr<const EffectLayer::Sprite> EffectLayer::streakSprite(const QColor &color,
                                                                     const QSize &size)
{
    const qreal dpr = devicePixelRatioF();
    const QString key = QStringLiteral("%1|%2x%3|%4")
                            .arg(color.name(QColor::HexArgb))
                            .arg(size.width())
                            .arg(size.height())
                            .arg(dpr);
    auto it = streakImages.constFind(key);
    if (it != streakImages.constEnd())
        return it.value();

    auto strip = std::make_shared<Sprite>();
    strip->image = QImage(size * dpr, QImage::Format_ARGB32_Premultiplied);
    strip->image.setDevicePixelRatio(dpr);
    strip->image.fill(Qt::transparent);
    QLinearGradient gradient(0, 0, 1, 0);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, Qt::transparent);
    gradient.setColorAt(0.3, color);
    gradient.setColorAt(0.7, color);
    gradient.setColorAt(1, Qt::transparent);
    QPainter p(&strip->image);
    p.fillRect(QRect(QPoint(0, 0), size), gradient);
    p.end();
    strip->trim();
    streakImages.insert(key, strip);
    return strip;
}
