#include "feedback/readablecolour.h"
#include "support/testenv.h"

#include <QtTest>

class TestReadableColour : public QObject
{
    Q_OBJECT

private slots:
    void contrastFollowsWcag();
    void nearestKeepsWhatPassesAndOtherwiseMovesTheLeastItCan_data();
    void nearestKeepsWhatPassesAndOtherwiseMovesTheLeastItCan();
    void impossibleAsksGetTheClosest();
};

void TestReadableColour::contrastFollowsWcag()
{
    QCOMPARE(ReadableColour::contrast(Qt::black, Qt::white), 21.0);
    QCOMPARE(ReadableColour::contrast(QColor("#123456"), QColor("#123456")), 1.0);
    // The grey that WCAG's own examples give as just above 4.5:1 on white.
    QVERIFY(qAbs(ReadableColour::contrast(QColor("#767676"), Qt::white) - 4.54) < 0.01);
    QCOMPARE(ReadableColour::contrast(QColor("#ff8f00"), QColor("#0d1117")),
             ReadableColour::contrast(QColor("#0d1117"), QColor("#ff8f00")));
}

void TestReadableColour::nearestKeepsWhatPassesAndOtherwiseMovesTheLeastItCan_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QList<QColor>>("backgrounds");
    QTest::addColumn<double>("minimum");
    QTest::newRow("gold on dark") << QColor("#ffd700") << QList<QColor>{QColor("#0d1117")} << 4.5;
    QTest::newRow("gold on light") << QColor("#ffd700") << QList<QColor>{QColor("#fcfcfd")} << 4.5;
    QTest::newRow("orange on its face and hover")
        << QColor("#ff8f00") << QList<QColor>{QColor("#ff8f00"), QColor("#de7c00")} << 3.0;
    QTest::newRow("light cyan on dark, lighter")
        << QColor("#005f73") << QList<QColor>{QColor("#0d1117")} << 4.5;
}

void TestReadableColour::nearestKeepsWhatPassesAndOtherwiseMovesTheLeastItCan()
{
    QFETCH(QColor, colour);
    QFETCH(QList<QColor>, backgrounds);
    QFETCH(double, minimum);
    auto worst = [&backgrounds](const QColor &c) {
        double w = 21;
        for (const QColor &b : backgrounds)
            w = qMin(w, ReadableColour::contrast(c, b));
        return w;
    };
    const QColor found = ReadableColour::nearest(colour, backgrounds, minimum);
    QVERIFY2(worst(found) >= minimum, qPrintable(found.name()));
    if (worst(colour) >= minimum) {
        QCOMPARE(found, colour);
        return;
    }
    // The same hue and saturation; only the lightness moved.
    QVERIFY2(qAbs(found.hslHue() - colour.hslHue()) <= 2, qPrintable(found.name()));
    QVERIFY(qAbs(found.hslSaturation() - colour.hslSaturation()) <= 3);
    // And no nearer shade of it would do: a little back towards the colour fails.
    const double there = found.lightnessF();
    const double back = there + (colour.lightnessF() > there ? 0.006 : -0.006);
    const QColor nearer = QColor::fromHslF(colour.hslHueF(), colour.hslSaturationF(), back);
    QVERIFY2(worst(nearer) < minimum, qPrintable(nearer.name()));
}

void TestReadableColour::impossibleAsksGetTheClosest()
{
    // Nothing is 5:1 against both black and white; the grey in the middle comes closest
    // (at most the square root of 21, 4.58:1).
    const QColor found = ReadableColour::nearest(QColor("#202020"), {Qt::black, Qt::white}, 5.0);
    const double worst = qMin(ReadableColour::contrast(found, Qt::black),
                              ReadableColour::contrast(found, Qt::white));
    QVERIFY2(worst > 4.5, qPrintable(found.name()));
    QVERIFY(worst < 5.0);
}

TAPTEMPEST_TEST_MAIN(TestReadableColour)
#include "tst_readablecolour.moc"
