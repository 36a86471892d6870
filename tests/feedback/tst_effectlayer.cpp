#include "feedback/effectlayer.h"
#include "resources/theme.h"
#include "support/testenv.h"

#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QRandomGenerator>

#include <array>
#include <memory>

namespace {

// One drawn item, described the way a player would see it.
struct Look
{
    EffectType family;
    QString text;
    QColor color;
    QPoint pos;     // top-left corner of the label's box
    QSize size;     // rings and streaks only
    int radius = 0; // rings only
};

int pixelSizeOf(EffectType family)
{
    switch (family) {
    case EffectType::Float:
        return 18;
    case EffectType::Fall:
        return 16;
    case EffectType::Burst:
        return 14;
    default:
        return 20;
    }
}

// The label that the effect used to be: its family's own style sheet, under the application
// style sheet, faded by an opacity effect (streaks are never faded).
QImage labelRendering(const Look &look, qreal opacity)
{
    QMainWindow host;
    host.resize(240, 160);
    auto *label = new QLabel(&host);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    const QString color = look.color.name();
    switch (look.family) {
    case EffectType::Ring:
        label->resize(look.size);
        label->setStyleSheet(
            QString("background: transparent; border: 3px solid %1; border-radius: %2px;")
                .arg(color)
                .arg(look.radius));
        break;
    case EffectType::Streak:
        label->setFixedSize(look.size);
        label->setStyleSheet(
            QString("background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 transparent, "
                    "stop:0.3 %1, stop:0.7 %1, stop:1 transparent);")
                .arg(color));
        break;
    case EffectType::BounceText:
        label->setText(look.text);
        label->setStyleSheet(QString("color: %1; font-size: 20px; font-weight: bold; "
                                     "background: transparent;")
                                 .arg(color));
        label->setAlignment(Qt::AlignCenter);
        break;
    default:
        label->setText(look.text);
        label->setStyleSheet(QString("color: %1; font-size: %2px; background: transparent;")
                                 .arg(color)
                                 .arg(pixelSizeOf(look.family)));
        break;
    }
    label->move(look.pos);
    if (look.family != EffectType::Streak) {
        auto *effect = new QGraphicsOpacityEffect(label);
        effect->setOpacity(opacity);
        label->setGraphicsEffect(effect);
    }
    host.show();
    return host.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The same item as a record of the layer, at the moment its fade reaches `opacity`.
QImage layerRendering(const Look &look, qreal opacity)
{
    QMainWindow host;
    host.resize(240, 160);
    auto *layer = new EffectLayer(&host);
    qint64 now = 0;
    layer->setClock([&now] { return now; });
    const int duration = 1000;
    switch (look.family) {
    case EffectType::Ring: {
        const QRect box(look.pos, look.size);
        layer->addRing(look.color, look.radius, box, box, duration);
        break;
    }
    case EffectType::Streak:
        layer->addStreak(look.color, QRect(look.pos, look.size), duration);
        break;
    default:
        layer->addSymbol(look.family, look.text, look.color, pixelSizeOf(look.family),
                         look.family == EffectType::BounceText,
                         look.family == EffectType::BounceText ? EffectLayer::Placement::Centre
                                                               : EffectLayer::Placement::Left,
                         look.pos, look.pos, duration, QEasingCurve::Linear);
        break;
    }
    if (look.family != EffectType::Streak)
        now = qRound64((1.0 - opacity) * duration);
    layer->advance();
    host.show();
    return host.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int channelDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

// Share of the item's pixels (those that differ from the bare window in either picture) whose
// colours agree within `tolerance` per channel.
double agreement(const QImage &expected, const QImage &actual, const QImage &background,
                 int tolerance, int *inkPixels = nullptr)
{
    int ink = 0;
    int close = 0;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb e = expected.pixel(x, y);
            const QRgb a = actual.pixel(x, y);
            const QRgb b = background.pixel(x, y);
            if (channelDistance(e, b) <= 2 && channelDistance(a, b) <= 2)
                continue;
            ++ink;
            close += channelDistance(e, a) <= tolerance ? 1 : 0;
        }
    }
    if (inkPixels)
        *inkPixels = ink;
    return ink ? double(close) / ink : 1.0;
}

QImage bareWindow()
{
    QMainWindow host;
    host.resize(240, 160);
    new EffectLayer(&host);
    host.show();
    return host.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Symbols and streaks come out identical; a ring's corners may differ by a few levels of
// antialiasing where its stretched middle is empty.
constexpr int tolerance = 8;
constexpr double requiredShare = 0.99;

} // namespace

class TestEffectLayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void looksLikeTheLabelItReplaces_data();
    void looksLikeTheLabelItReplaces();
    void comparisonCatchesAWrongLook();
    void streakStaysOpaqueThenGoes();
    void ticksOnlyWhileItemsLive();
    void coversTheWindowAndStaysOnTop();
    void itemsGoWithTheirWindow();
    void liveItemsAreBounded();
    void bandsGiveTheSingleThreadImage();
};

void TestEffectLayer::initTestCase()
{
    Theme::apply(qApp, true);
}

void TestEffectLayer::looksLikeTheLabelItReplaces_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("radius");

    QTest::newRow("float star") << int(EffectType::Float) << "★" << QColor("#ffd700") << QSize()
                                << 0;
    QTest::newRow("float dollar") << int(EffectType::Float) << "$" << QColor("#4caf50") << QSize()
                                  << 0;
    QTest::newRow("fall snow") << int(EffectType::Fall) << "❄" << QColor("#ffffff") << QSize() << 0;
    QTest::newRow("burst diamond")
        << int(EffectType::Burst) << "◆" << QColor("#b3e5fc") << QSize() << 0;
    QTest::newRow("bounce +1") << int(EffectType::BounceText) << "+1" << QColor("#ff8f00")
                               << QSize() << 0;
    // A ring halfway through its growth: the radius stays while the box widens.
    QTest::newRow("ring grown") << int(EffectType::Ring) << "" << QColor("#ff7f00") << QSize(62, 62)
                                << 16;
    QTest::newRow("ring start") << int(EffectType::Ring) << "" << QColor("#e040fb") << QSize(44, 44)
                                << 22;
    QTest::newRow("streak") << int(EffectType::Streak) << "" << QColor("#40c4ff") << QSize(150, 3)
                            << 0;
}

void TestEffectLayer::looksLikeTheLabelItReplaces()
{
    QFETCH(int, family);
    QFETCH(QString, text);
    QFETCH(QColor, color);
    QFETCH(QSize, size);
    QFETCH(int, radius);
    const Look look{EffectType(family), text, color, QPoint(60, 50), size, radius};

    const QImage background = bareWindow();
    const QImage expected = labelRendering(look, 0.6);
    const QImage actual = layerRendering(look, 0.6);
    int ink = 0;
    const double share = agreement(expected, actual, background, tolerance, &ink);
    QVERIFY2(ink > 20, qPrintable(QString("only %1 pixels drawn").arg(ink)));
    QVERIFY2(share >= requiredShare,
             qPrintable(QString("%1% of %2 pixels agree").arg(share * 100, 0, 'f', 1).arg(ink)));
}

void TestEffectLayer::comparisonCatchesAWrongLook()
{
    // The comparison above must fail for a look a player would notice as different.
    const QImage background = bareWindow();
    const Look star{EffectType::Float, "★", QColor("#ffd700"), QPoint(60, 50), QSize()};
    const QImage expected = labelRendering(star, 0.6);

    Look biggerFont = star;
    biggerFont.family = EffectType::BounceText; // 20 px bold and centred in place of 18 px
    Look otherColour = star;
    otherColour.color = QColor("#ff4081");
    Look shifted = star;
    shifted.pos += QPoint(2, 1);
    const Look fall{EffectType::Fall, "★", QColor("#ffd700"), QPoint(60, 50), QSize()}; // 16 px

    for (const Look &wrong : {biggerFont, otherColour, shifted, fall}) {
        const double share = agreement(expected, layerRendering(wrong, 0.6), background, tolerance);
        QVERIFY2(share < requiredShare, qPrintable(QString::number(share)));
    }
    // A wrong fade is seen too.
    QVERIFY(agreement(expected, layerRendering(star, 0.9), background, tolerance) < requiredShare);
    // And a ring whose corners follow the box instead of keeping their radius.
    const Look ring{EffectType::Ring, "", QColor("#ff7f00"), QPoint(60, 50), QSize(62, 62), 16};
    Look roundRing = ring;
    roundRing.radius = 31;
    QVERIFY(agreement(labelRendering(ring, 0.6), layerRendering(roundRing, 0.6), background,
                      tolerance) < requiredShare);
}

void TestEffectLayer::streakStaysOpaqueThenGoes()
{
    QWidget window;
    window.resize(400, 300);
    auto *layer = new EffectLayer(&window);
    qint64 now = 1000;
    layer->setClock([&now] { return now; });
    layer->addStreak(QColor("#40c4ff"), QRect(100, 100, 120, 3), 400);
    layer->addSymbol(EffectType::Float, "★", Qt::yellow, 18, false, EffectLayer::Placement::Left,
                     QPoint(10, 10), QPoint(10, -70), 400, QEasingCurve::OutCubic);

    now = 1200;
    layer->advance();
    QCOMPARE(layer->itemCount(), 2);
    const auto states = layer->itemStates();
    QCOMPARE(states.at(0).opacity, 1.0);
    QCOMPARE(states.at(0).geometry, QRect(100, 100, 120, 3));
    QCOMPARE(states.at(1).opacity, 0.5);

    now = 1399;
    layer->advance();
    QCOMPARE(layer->itemCount(), 2);
    QCOMPARE(layer->itemStates().at(0).opacity, 1.0);
    now = 1400;
    layer->advance();
    QCOMPARE(layer->itemCount(), 0);
    QVERIFY(!layer->isTicking());
}

void TestEffectLayer::ticksOnlyWhileItemsLive()
{
    QWidget window;
    window.resize(400, 300);
    window.show();
    auto *layer = new EffectLayer(&window);
    QVERIFY(!layer->isTicking());
    layer->addSymbol(EffectType::Burst, "●", Qt::red, 14, false, EffectLayer::Placement::Left,
                     QPoint(200, 150), QPoint(260, 150), 150, QEasingCurve::OutCubic);
    QVERIFY(layer->isTicking());
    // The animation driver moves it: the symbol travels right and the tick ends with it.
    QTRY_VERIFY(layer->itemCount() == 0 || layer->itemStates().first().geometry.x() > 200);
    QTRY_COMPARE(layer->itemCount(), 0);
    QVERIFY(!layer->isTicking());

    // An item that has no time to live is never drawn and starts nothing.
    layer->addStreak(Qt::red, QRect(0, 0, 80, 3), 0);
    QCOMPARE(layer->itemCount(), 0);
    QVERIFY(!layer->isTicking());
}

void TestEffectLayer::coversTheWindowAndStaysOnTop()
{
    QWidget window;
    window.resize(400, 300);
    auto *layer = new EffectLayer(&window);
    auto *button = new QPushButton("below", &window);
    button->setGeometry(10, 10, 100, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.children().constLast(), layer);
    QCOMPARE(layer->geometry(), window.rect());
    window.resize(520, 410);
    QTRY_COMPARE(layer->geometry(), QRect(0, 0, 520, 410));

    // Clicks reach the widgets under the layer.
    QCOMPARE(window.childAt(QPoint(50, 30)), button);
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicked.size(), 1);
}

void TestEffectLayer::itemsGoWithTheirWindow()
{
    auto *window = new QWidget;
    window->resize(300, 200);
    window->show();
    QPointer<EffectLayer> layer = new EffectLayer(window);
    for (int i = 0; i < 50; ++i)
        layer->addRing(Qt::green, 10, QRect(100, 100, 20, 20), QRect(70, 70, 80, 80), 5000);
    QVERIFY(layer->isTicking());
    delete window;
    QVERIFY(layer.isNull());
    // The driver keeps ticking for other animations; nothing may still point at the layer.
    QObject target;
    target.setProperty("v", 0);
    QPropertyAnimation probe(&target, "v");
    probe.setDuration(100);
    probe.setStartValue(0);
    probe.setEndValue(10);
    probe.start();
    QTRY_COMPARE(probe.state(), QAbstractAnimation::Stopped);
}

void TestEffectLayer::liveItemsAreBounded()
{
    QWidget window;
    window.resize(300, 200);
    auto *layer = new EffectLayer(&window);
    qint64 now = 0;
    layer->setClock([&now] { return now; });
    for (int i = 0; i < EffectLayer::maxItems + 25; ++i) {
        now = i / 1000;
        layer->addSymbol(EffectType::Float, QString(), Qt::white, 18, false,
                         EffectLayer::Placement::Left, QPoint(10, 10), QPoint(10, 10), 100000,
                         QEasingCurve::OutCubic);
    }
    QCOMPARE(layer->itemCount(), EffectLayer::maxItems);
}

void TestEffectLayer::bandsGiveTheSingleThreadImage()
{
    // Thousands of overlapping items of every family, at every stage of their fade, across the
    // whole window: rendered in bands on several threads, the frame is the one-thread frame.
    QMainWindow window;
    window.resize(800, 600);
    auto *layer = new EffectLayer(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    qint64 now = 0;
    layer->setClock([&now] { return now; });
    QRandomGenerator random(18);
    const QStringList symbols{"★", "●", "⭐", "✨", "❄", "✿", "$", "◆", "♛", "+1"};
    const QList<QColor> colours{QColor("#ffd700"), QColor("#ff4081"), QColor("#e040fb"),
                                QColor("#40c4ff"), QColor("#ffffff"), QColor("#1a1a2e")};
    const auto point = [&random] {
        return QPoint(random.bounded(-60, 820), random.bounded(-40, 640));
    };
    for (int i = 0; i < 6000; ++i) {
        now = i / 2;
        const QColor colour = colours.at(random.bounded(int(colours.size())));
        const int kind = random.bounded(7);
        const QPoint at = point();
        if (kind < 4) {
            const auto family = std::array{EffectType::Float, EffectType::Fall, EffectType::Burst,
                                           EffectType::BounceText}[size_t(kind)];
            layer->addSymbol(family, symbols.at(random.bounded(int(symbols.size()))), colour,
                             pixelSizeOf(family), family == EffectType::BounceText,
                             family == EffectType::BounceText ? EffectLayer::Placement::Centre
                                                              : EffectLayer::Placement::Left,
                             at, point(), 3000 + random.bounded(3000), QEasingCurve::OutCubic);
        } else if (kind < 6) {
            const int size = 20 + 12 * random.bounded(7);
            const QRect from(at, QSize(size, size));
            layer->addRing(colour, size / 2, from, from.adjusted(-30, -30, 30, 30),
                           3000 + random.bounded(3000));
        } else {
            layer->addStreak(colour, QRect(at, QSize(80 + random.bounded(100), 3)), 5000);
        }
    }
    now = 3100;
    layer->advance();
    QVERIFY(layer->itemCount() > 5000);

    const QImage single = layer->renderFrame(1);
    int inked = 0;
    for (int y = 0; y < single.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(single.constScanLine(y));
        for (int x = 0; x < single.width(); ++x)
            inked += qAlpha(line[x]) ? 1 : 0;
    }
    QVERIFY2(inked > single.width() * single.height() / 4, qPrintable(QString::number(inked)));
    for (int threads : {2, 3, 4, 8}) {
        const QImage banded = layer->renderFrame(threads);
        QVERIFY2(banded == single, qPrintable(QString("%1 threads").arg(threads)));
    }
    // Each family on its own, too.
    for (int family = 0; family <= int(EffectType::BounceText); ++family)
        QVERIFY(layer->renderFrame(1, family) == layer->renderFrame(4, family));
    // And what the window shows is that frame over the window.
    layer->setPaintThreads(4);
    const QImage shown = window.grab().toImage();
    layer->setPaintThreads(1);
    layer->advance(); // the same time: everything is drawn again
    QCOMPARE(window.grab().toImage(), shown);
}

TAPTEMPEST_TEST_MAIN(TestEffectLayer)
#include "tst_effectlayer.moc"
