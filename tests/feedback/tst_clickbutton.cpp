#include "feedback/clickbutton.h"
#include "feedback/readablecolour.h"
#include "support/testenv.h"
#include <QFile>

#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QWidget>

#include <memory>

namespace {

// Records the presses that the button leaves to its parent.
class Host : public QWidget
{
public:
    QList<Qt::MouseButton> propagatedPresses;

protected:
    void mousePressEvent(QMouseEvent *event) override { propagatedPresses.append(event->button()); }
};

QList<QLabel *> floatingLabels(ClickButton *button)
{
    return button->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
}

bool near(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
           std::abs(a.blue() - b.blue()) <= 2;
}

} // namespace

class TestClickButton : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void initialLook();
    void appearanceSetters();
    void leftClickShrinksThrowsPlusOneAndEmits();
    void otherButtonsOnlyReachTheBase();
    void dragOffAndKeyboard();
    void paintingFollowsScale();
    void chosenSizeSurvivesRestyling();
    void pressedLookComesWithTheNextFrame();
    void focusRingComesWithKeyboardFocusOnly();
    void plusOneStandsOutFromTheFace_data();
    void plusOneStandsOutFromTheFace();

private:
    // Read from the parent's rendering: grabbing the button alone fills its whole rectangle
    // with the palette colour that the style sheet sets.
    QColor pixelAt(const QPoint &pos)
    {
        return host->grab().toImage().pixelColor(button->mapToParent(pos));
    }

    std::unique_ptr<Host> host;
    ClickButton *button = nullptr;
};

void TestClickButton::init()
{
    host = std::make_unique<Host>();
    host->resize(400, 300);
    button = new ClickButton(host.get());
    button->setText("点击");
    button->setButtonSize(240, 120);
    button->move(80, 90);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));
    // The focus ring would cover the border these tests read.
    button->clearFocus();
}

void TestClickButton::cleanup()
{
    host.reset();
    button = nullptr;
}

void TestClickButton::initialLook()
{
    ClickButton fresh;
    QCOMPARE(fresh.objectName(), QStringLiteral("clickButton"));
    QCOMPARE(fresh.minimumSize(), QSize(200, 100));
    QCOMPARE(fresh.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(fresh.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(fresh.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(fresh.scale(), 1.0);
    QCOMPARE(fresh.borderWidth(), 2);
    const QString sheet = fresh.styleSheet();
    QVERIFY(sheet.contains("background-color: #ff8f00;"));
    QVERIFY(sheet.contains("border: 2px solid #8b949e;"));
    QVERIFY(sheet.contains("border-radius: 16px;"));
    QVERIFY(sheet.contains(
        QString("background-color: %1;  border-color: %2;")
            .arg(QColor("#ff8f00").darker(115).name(), QColor("#8b949e").lighter(120).name())));

    // What the player sees: an orange face inside a grey border.
    QVERIFY(near(pixelAt(QPoint(120, 25)), QColor("#ff8f00")));
    QVERIFY(near(pixelAt(QPoint(120, 0)), QColor("#8b949e")));
}

void TestClickButton::appearanceSetters()
{
    button->setButtonColor(QColor("#1e88e5"));
    button->setBorderColor(QColor("#00ff00"));
    button->setBorderWidth(6);
    QVERIFY(near(pixelAt(QPoint(120, 25)), QColor("#1e88e5")));
    QVERIFY(near(pixelAt(QPoint(120, 3)), QColor("#00ff00")));

    button->setBorderWidth(-4);
    button->setBorderRadius(-1);
    QCOMPARE(button->borderWidth(), 0);
    QVERIFY(button->styleSheet().contains("border: 0px solid #00ff00;"));
    QVERIFY(button->styleSheet().contains("border-radius: 0px;"));
    QVERIFY(near(pixelAt(QPoint(120, 0)), QColor("#1e88e5")));

    const QString before = button->styleSheet();
    button->setButtonSize(300, 150);
    QCOMPARE(button->size(), QSize(300, 150));
    QCOMPARE(button->minimumSize(), QSize(300, 150));
    QCOMPARE(button->styleSheet(), before);

    // The property system reaches the border width, as style animations would.
    QVERIFY(button->setProperty("borderWidth", 3));
    QVERIFY(button->styleSheet().contains("border: 3px solid"));
}

void TestClickButton::leftClickShrinksThrowsPlusOneAndEmits()
{
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    const QPoint centre = button->rect().center();

    QTest::mousePress(button, Qt::LeftButton, {}, centre);
    QList<QLabel *> labels = floatingLabels(button);
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first()->text(), QStringLiteral("+1"));
    QVERIFY(labels.first()->testAttribute(Qt::WA_TransparentForMouseEvents));
    const QPoint offset = labels.first()->pos() - centre;
    QVERIFY(offset.x() >= -30 && offset.x() < 30);
    QVERIFY(offset.y() >= -10 && offset.y() < 10);
    QTRY_COMPARE(button->scale(), 0.92);
    QCOMPARE(clicked.count(), 0);

    QTest::mouseRelease(button, Qt::LeftButton, {}, centre);
    QCOMPARE(clicked.count(), 1);
    QTRY_COMPARE(button->scale(), 1.0);

    // Quick presses each throw their own label; each rises and removes itself after its flight.
    const int earlier = floatingLabels(button).size();
    QTest::mouseClick(button, Qt::LeftButton, {}, centre);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre);
    QCOMPARE(clicked.count(), 3);
    labels = floatingLabels(button);
    QCOMPARE(labels.size(), earlier + 2);
    QPointer<QLabel> last = labels.last();
    const int startY = last->y();
    QTRY_VERIFY(last && last->y() <= startY - 40);
    QTRY_VERIFY_WITH_TIMEOUT(floatingLabels(button).isEmpty(), 3000);
}

void TestClickButton::otherButtonsOnlyReachTheBase()
{
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    for (Qt::MouseButton which : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(button, which, {}, button->rect().center());
        QTest::mouseRelease(button, which, {}, button->rect().center());
    }
    QVERIFY(floatingLabels(button).isEmpty());
    QCOMPARE(button->scale(), 1.0);
    QCOMPARE(clicked.count(), 0);
    // The base class ignores them, so they travel on to the parent.
    QCOMPARE(host->propagatedPresses, QList<Qt::MouseButton>({Qt::RightButton, Qt::MiddleButton}));
}

void TestClickButton::dragOffAndKeyboard()
{
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
    QTRY_COMPARE(button->scale(), 0.92);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(-50, -50));
    QTRY_COMPARE(button->scale(), 1.0);
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(floatingLabels(button).size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(floatingLabels(button).isEmpty(), 3000);

    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
    QCOMPARE(clicked.count(), 1);
    QVERIFY(floatingLabels(button).isEmpty());
    QCOMPARE(button->scale(), 1.0);
}

void TestClickButton::paintingFollowsScale()
{
    const QColor face("#ff8f00");
    const QPoint nearCorner(12, 12);
    QVERIFY(near(pixelAt(nearCorner), face));

    button->setScale(0.5);
    QCOMPARE(button->scale(), 0.5);
    QVERIFY(!near(pixelAt(nearCorner), face));
    QVERIFY(near(pixelAt(QPoint(120, 45)), face));

    button->setScale(0.0);
    QVERIFY(!near(pixelAt(QPoint(120, 45)), face));

    button->setScale(-1.0); // mirrored, but the same full-size face
    QVERIFY(near(pixelAt(nearCorner), face));

    QVERIFY(button->setProperty("scale", 1.0));
    QVERIFY(near(pixelAt(nearCorner), face));
}

void TestClickButton::chosenSizeSurvivesRestyling()
{
    // The application sheets carry a min-width for #clickButton that every restyle re-applies.
    QFile sheet(":/style.qss");
    QVERIFY(sheet.open(QIODevice::ReadOnly | QIODevice::Text));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    for (const QSize size : {QSize(320, 150), QSize(100, 60)}) {
        button->setButtonSize(size.width(), size.height());
        button->setBorderRadius(8); // rebuilds the button's own sheet
        qApp->setStyleSheet(qApp->styleSheet() + " ");
        QCOMPARE(button->minimumSize(), size);
        QCOMPARE(button->sizeHint(), size);
    }
    // A button sized before it is first shown keeps its size through the first polish too.
    QWidget other;
    auto *fresh = new ClickButton(&other);
    fresh->setButtonSize(120, 70);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    QCOMPARE(fresh->minimumSize(), QSize(120, 70));
    qApp->setStyleSheet(QString());
}

void TestClickButton::pressedLookComesWithTheNextFrame()
{
    // Whatever is drawn over the button would be repainted with it, so press and release must
    // not repaint at once; the pressed look still reaches the screen.
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            paints += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    QTRY_VERIFY(!button->isDown());
    QCoreApplication::processEvents();
    button->installEventFilter(&counter);

    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    QVERIFY(button->isDown());
    QCOMPARE(counter.paints, 0);
    QVERIFY(button->updatesEnabled());
    QTRY_VERIFY(counter.paints > 0);

    counter.paints = 0;
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(counter.paints, 0);
    QVERIFY(button->updatesEnabled());
    QTRY_VERIFY(counter.paints > 0);
}

void TestClickButton::focusRingComesWithKeyboardFocusOnly()
{
    QApplication::setActiveWindow(host.get());
    QVERIFY(QTest::qWaitForWindowActive(host.get()));
    const QPoint leftEdge(1, 60);
    const QColor border = pixelAt(leftEdge);
    QVERIFY(near(border, QColor("#8b949e")));

    // Clicked: focused, but no ring on the game's own button after every click.
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    QVERIFY(button->hasFocus());
    QTRY_COMPARE(button->scale(), 1.0);
    QVERIFY(near(pixelAt(leftEdge), border));

    // Reached with Tab: the ring, in the window's text colour, stands out from the border.
    button->clearFocus();
    button->setFocus(Qt::TabFocusReason);
    const QColor ring = pixelAt(leftEdge);
    QVERIFY2(ReadableColour::contrast(ring, border) >= 3, qPrintable(ring.name()));
    // A click while it has the ring: the player has gone back to the mouse.
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    QTRY_COMPARE(button->scale(), 1.0);
    QVERIFY(button->hasFocus());
    QVERIFY(near(pixelAt(leftEdge), border));
}

void TestClickButton::plusOneStandsOutFromTheFace_data()
{
    QTest::addColumn<QColor>("face");
    QTest::addColumn<bool>("keepsOrange");
    QTest::newRow("default orange") << QColor("#ff8f00") << false;
    QTest::newRow("dark blue") << QColor("#1e3a8a") << true;
    QTest::newRow("white") << QColor("#ffffff") << false;
}

// The "+1" keeps its orange where it reads on the player's face colour, plain and hovered
// (3:1), and takes a shade of that orange that does elsewhere.
void TestClickButton::plusOneStandsOutFromTheFace()
{
    QFETCH(QColor, face);
    QFETCH(bool, keepsOrange);
    button->setButtonColor(face);
    QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
    const QList<QLabel *> labels = floatingLabels(button);
    QCOMPARE(labels.size(), 1);
    labels.first()->ensurePolished();
    const QColor ink = labels.first()->palette().color(QPalette::WindowText);
    QTest::mouseRelease(button, Qt::LeftButton, {}, button->rect().center());
    QCOMPARE(ink == QColor("#ff8f00"), keepsOrange);
    QVERIFY2(ReadableColour::contrast(ink, face) >= 3, qPrintable(ink.name()));
    QVERIFY2(ReadableColour::contrast(ink, face.darker(115)) >= 3, qPrintable(ink.name()));
    QVERIFY2(qAbs(ink.hslHue() - QColor("#ff8f00").hslHue()) <= 2, qPrintable(ink.name()));
}

TAPTEMPEST_TEST_MAIN(TestClickButton)
#include "tst_clickbutton.moc"
