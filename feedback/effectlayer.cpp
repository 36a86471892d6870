#include "effectlayer.h"

#include <QAbstractAnimation>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int ringBorder = 3;

// Drives the layer from the animation driver's tick, as the labels' animations were driven.
class Ticker : public QAbstractAnimation
{
public:
    Ticker(EffectLayer *layer) : QAbstractAnimation(layer), layer(layer) {}
    int duration() const override { return -1; }

protected:
    void updateCurrentTime(int) override { layer->advance(); }

private:
    EffectLayer *layer;
};

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
    ticker = new Ticker(this);
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
        item.pixmap = symbolPixmap(text, color, pixelSize, bold, placement, &item.offset);
    addItem(std::move(item));
}

void EffectLayer::addRing(const QColor &color, int radius, const QRect &from, const QRect &to,
                          int duration)
{
    Item item =
        makeItem(Kind::Ring, EffectType::Ring, color, from, to, duration, QEasingCurve::OutCubic);
    item.radius = radius;
    item.sprite = ringSprite(color, radius);
    addItem(std::move(item));
}

void EffectLayer::addStreak(const QColor &color, const QRect &rect, int duration)
{
    Item item = makeItem(Kind::Streak, EffectType::Streak, color, rect, rect, duration,
                         QEasingCurve::Linear);
    item.pixmap = streakPixmap(color, rect.size());
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
        if (item.pixmap.isNull())
            return QRect();
        const QSizeF size = item.pixmap.deviceIndependentSize();
        return QRect(item.state.geometry.topLeft() + item.offset,
                     QSize(int(std::ceil(size.width())), int(std::ceil(size.height()))));
    }
    return item.state.geometry;
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
    if (items.isEmpty()) {
        ticker->stop();
        items.squeeze();
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
    dirty |= rect.intersected(this->rect());
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

void EffectLayer::paintEvent(QPaintEvent *event)
{
    if (items.isEmpty())
        return;
    QPainter painter(this);
    const QRect exposed = event->rect();
    // Later items are drawn over earlier ones, as later labels stacked above earlier ones.
    for (const Item &item : items) {
        if ((item.kind != Kind::Ring && item.pixmap.isNull()) || item.state.opacity <= 0.0)
            continue;
        const QRect target = paintedRect(item);
        if (!target.intersects(exposed))
            continue;
        painter.setOpacity(item.state.opacity);
        if (item.kind == Kind::Ring) {
            drawRing(&painter, item);
        } else {
            painter.drawPixmap(target.topLeft(), item.pixmap);
        }
    }
}

void EffectLayer::drawRing(QPainter *painter, const Item &item) const
{
    // Corners copied as they are and edges filled: stretching one ring image or stroking a
    // rounded rectangle in every frame cost more than all the symbols together.
    const RingSprite &sprite = ringSprites.at(item.sprite);
    const QRect box = item.state.geometry;
    const int c = sprite.corner;
    const int right = box.x() + box.width() - c;
    const int bottom = box.y() + box.height() - c;
    painter->drawPixmap(QPoint(box.x(), box.y()), sprite.corners[0]);
    painter->drawPixmap(QPoint(right, box.y()), sprite.corners[1]);
    painter->drawPixmap(QPoint(box.x(), bottom), sprite.corners[2]);
    painter->drawPixmap(QPoint(right, bottom), sprite.corners[3]);
    const int middleWidth = box.width() - 2 * c;
    const int middleHeight = box.height() - 2 * c;
    if (middleWidth > 0) {
        painter->fillRect(QRect(box.x() + c, box.y(), middleWidth, ringBorder), sprite.edge);
        painter->fillRect(
            QRect(box.x() + c, box.y() + box.height() - ringBorder, middleWidth, ringBorder),
            sprite.edge);
    }
    if (middleHeight > 0) {
        painter->fillRect(QRect(box.x(), box.y() + c, ringBorder, middleHeight), sprite.edge);
        painter->fillRect(
            QRect(box.x() + box.width() - ringBorder, box.y() + c, ringBorder, middleHeight),
            sprite.edge);
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

QPixmap EffectLayer::symbolPixmap(const QString &text, const QColor &color, int pixelSize,
                                  bool bold, Placement placement, QPoint *offset)
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
        return it->pixmap;
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
        glyph.pixmap = QPixmap::fromImage(image.copy(ink.intersected(image.rect())));
        glyph.pixmap.setDevicePixelRatio(dpr);
        glyph.offset = QPoint(l, t);
    }
    glyphs.insert(key, glyph);
    *offset = glyph.offset;
    return glyph.pixmap;
}

int EffectLayer::ringSprite(const QColor &color, int radius)
{
    const qreal dpr = devicePixelRatioF();
    const QString key =
        QStringLiteral("%1|%2|%3").arg(color.name(QColor::HexArgb)).arg(radius).arg(dpr);
    auto it = ringIndex.constFind(key);
    if (it != ringIndex.constEnd())
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

    RingSprite sprite;
    sprite.corner = corner;
    const int c = qRound(corner * dpr);
    const int far = qRound((corner + 2) * dpr);
    const QPoint origins[4] = {{0, 0}, {far, 0}, {0, far}, {far, far}};
    for (int i = 0; i < 4; ++i) {
        sprite.corners[i] = QPixmap::fromImage(image.copy(QRect(origins[i], QSize(c, c))));
        sprite.corners[i].setDevicePixelRatio(dpr);
    }
    sprite.edge = QColor::fromRgba(qUnpremultiply(image.pixel(image.width() / 2, 0)));
    ringSprites.append(sprite);
    ringIndex.insert(key, int(ringSprites.size()) - 1);
    return int(ringSprites.size()) - 1;
}

QPixmap EffectLayer::streakPixmap(const QColor &color, const QSize &size)
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

    QPixmap strip(size * dpr);
    strip.setDevicePixelRatio(dpr);
    strip.fill(Qt::transparent);
    QLinearGradient gradient(0, 0, 1, 0);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, Qt::transparent);
    gradient.setColorAt(0.3, color);
    gradient.setColorAt(0.7, color);
    gradient.setColorAt(1, Qt::transparent);
    QPainter p(&strip);
    p.fillRect(QRect(QPoint(0, 0), size), gradient);
    p.end();
    streakImages.insert(key, strip);
    return strip;
}
