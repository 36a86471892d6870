#include "dialogs/elidedtext.h"
#include "support/testenv.h"
#include "support/uicheck.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtTest>

// The checks must find each kind of fault, and pass what is fine: a check that finds nothing
// would let every window through.
class TestUiCheck : public QObject
{
    Q_OBJECT

private slots:
    void unnamedControlsAndFigures()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *blank = new QPushButton(&window);
        blank->setObjectName("blank");
        layout->addWidget(blank);
        layout->addWidget(new QPushButton("Log out", &window));
        auto *bare = new QLabel("1000", &window);
        bare->setObjectName("bare");
        layout->addWidget(bare);
        auto *captioned = new QLabel("7", &window);
        captioned->setAccessibleName("Gold: 7");
        layout->addWidget(captioned);
        layout->addWidget(new QLabel("Gold:", &window));
        layout->addWidget(new QLabel(&window)); // empty: decoration
        auto *table = new QTableWidget(1, 2, &window);
        table->setAccessibleName("Ranking");
        table->setItem(0, 0, new QTableWidgetItem("ann"));
        table->setItem(0, 1, new QTableWidgetItem(""));
        layout->addWidget(table);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QStringList found = uicheck::unnamedControls(&window);
        const QString all = found.join('\n');
        QCOMPARE(found.filter("QPushButton#blank: no name").size(), 1);
        QCOMPARE(found.filter("QLabel#bare: a figure without its caption").size(), 1);
        // The cell without text, and only it.
        QCOMPARE(found.filter("QTableWidget#").filter("no name").size(), 1);
        QVERIFY2(found.size() == 3, qPrintable(all));
    }

    void narrowAndShortenedTexts()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *narrow = new QLabel("A caption far too long for its box", &window);
        narrow->setFixedWidth(40);
        layout->addWidget(narrow);
        auto *elided = new QLabel(&window);
        ElidedText::show(elided, QString(300, QLatin1Char('w')), 100);
        layout->addWidget(elided);
        auto *marked = new QLabel(QStringLiteral("Fire…"), &window);
        layout->addWidget(marked);
        auto *cutByHand = new QPushButton("Firew... (100 gold)", &window);
        cutByHand->setToolTip("Fireworks (100 gold)");
        layout->addWidget(cutByHand);
        // Its own text ends in dots: not shortened.
        layout->addWidget(new QLabel("Loading the ranking...", &window));
        auto *group = new QGroupBox("A group title far too long for its box", &window);
        group->setFixedWidth(50);
        layout->addWidget(group);
        auto *table = new QTableWidget(1, 1, &window);
        auto *cell = new QTableWidgetItem;
        ElidedText::show(cell, table->fontMetrics(), QString(300, QLatin1Char('v')), 80);
        table->setItem(0, 0, cell);
        layout->addWidget(table);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QStringList cut = uicheck::cutTexts(&window);
        QCOMPARE(cut.filter("A caption far too long").size(), 1);
        QCOMPARE(cut.filter("A group title far too long").size(), 1);
        QVERIFY2(cut.size() == 2, qPrintable(cut.join('\n')));

        const QStringList shortened = uicheck::shortenedTexts(&window);
        QCOMPARE(shortened.filter(QString(300, QLatin1Char('w'))).size(), 1);
        QCOMPARE(shortened.filter(QString(300, QLatin1Char('v'))).size(), 1);
        QCOMPARE(shortened.filter(QStringLiteral("Fire…")).size(), 1);
        QCOMPARE(shortened.filter("shortened from Fireworks (100 gold)").size(), 1);
        QVERIFY2(shortened.size() == 4, qPrintable(shortened.join('\n')));
    }
};

TAPTEMPEST_TEST_MAIN(TestUiCheck)
#include "tst_uicheck.moc"
