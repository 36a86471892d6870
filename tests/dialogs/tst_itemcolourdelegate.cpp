#include "dialogs/itemcolourdelegate.h"
#include "support/rendering.h"
#include "support/testenv.h"

#include <QListWidget>
#include <QtTest>

class TestItemColourDelegate : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qApp->setStyleSheet(QString()); }

    // A sheet that colours every item, as the game's sheets do.
    void itemColourWinsOverTheSheetsItemColour()
    {
        qApp->setStyleSheet("QListWidget { background: #000000; }"
                            "QListWidget::item { color: #ff0000; padding: 6px; }"
                            "QListWidget::item:selected { background: #ffffff; color: #000000; }");
        QListWidget list;
        list.setItemDelegate(new ItemColourDelegate(&list));
        list.resize(300, 200);
        auto *own = new QListWidgetItem("████ own colour", &list);
        own->setForeground(QColor("#4da3ff"));
        auto *right = new QListWidgetItem("████", &list);
        right->setForeground(QColor("#00ff00"));
        right->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        new QListWidgetItem("████ sheet colour", &list);
        auto *dim = new QListWidgetItem("████ too dark", &list);
        dim->setForeground(QColor("#000080"));
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));

        const QImage image = rendering::render(list.viewport());
        const QRect first = list.visualItemRect(own);
        QVERIFY(rendering::pixelsNear(image, first, QColor("#4da3ff")) > 20);
        QCOMPARE(rendering::pixelsNear(image, first, QColor("#ff0000")), 0);

        // Its alignment is kept: the text sits in the right half only.
        const QRect second = list.visualItemRect(right);
        const QRect leftHalf(second.left(), second.top(), second.width() / 2, second.height());
        const QRect rightHalf = second.adjusted(second.width() / 2, 0, 0, 0);
        QVERIFY(rendering::pixelsNear(image, rightHalf, QColor("#00ff00")) > 20);
        QCOMPARE(rendering::pixelsNear(image, leftHalf, QColor("#00ff00")), 0);

        // Without a colour of its own an item takes the sheet's.
        const QRect third = list.visualItemRect(list.item(2));
        QVERIFY(rendering::pixelsNear(image, third, QColor("#ff0000")) > 20);

        // A colour that would not read on the black is drawn in a lighter navy that does.
        const QRect fourth = list.visualItemRect(dim);
        int readableNavy = 0;
        for (int y = fourth.top(); y <= fourth.bottom(); ++y)
            for (int x = fourth.left(); x <= fourth.right(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (qAbs(pixel.hslHue() - 240) <= 3 && rendering::contrast(pixel, Qt::black) >= 4.5)
                    ++readableNavy;
            }
        QVERIFY2(readableNavy > 20, qPrintable(QString::number(readableNavy)));
        QCOMPARE(rendering::pixelsNear(image, fourth, QColor("#000080"), 4), 0);

        // Selected, the sheet's selection colours apply.
        list.setCurrentItem(own);
        const QImage selected = rendering::render(list.viewport());
        QCOMPARE(rendering::pixelsNear(selected, first, QColor("#4da3ff")), 0);
        QVERIFY(rendering::pixelsNear(selected, first, QColor("#ffffff")) > 20);
    }
};

TAPTEMPEST_TEST_MAIN(TestItemColourDelegate)
#include "tst_itemcolourdelegate.moc"
