#include "net/displaytext.h"
#include "support/testenv.h"

class TestDisplayText : public QObject
{
    Q_OBJECT

private slots:
    void clean_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "alice"
                               << "alice";
        QTest::newRow("right-to-left override") << QString::fromUtf8("\u202Eevil") << "evil";
        // Every embedding, override and isolate, and the marks that steer neutral characters.
        QString allBidi;
        for (char16_t c : {0x202A, 0x202B, 0x202C, 0x202D, 0x202E, 0x2066, 0x2067, 0x2068, 0x2069,
                           0x200E, 0x200F, 0x061C})
            allBidi += QChar(c) + QStringLiteral("x");
        QTest::newRow("bidi controls") << allBidi << QString(12, QChar('x'));
        QTest::newRow("C0, DEL and C1")
            << QStringLiteral("a") + QChar(0) + QString::fromUtf8("b\tc\nd\re\u007Ff\u0085g\u009Bh")
            << "abcdefgh";
        QTest::newRow("line and paragraph separators")
            << QString::fromUtf8("one\u2028two\u2029three") << "onetwothree";
        QTest::newRow("only controls") << QString::fromUtf8("\u202E\u2066\n") << "";
        // Real letters of right-to-left scripts, joiners, emoji and blanks are names, not controls.
        QTest::newRow("kept") << QString::fromUtf8("שלום مرحبا 王\u200D五 👩‍💻 ")
                              << QString::fromUtf8("שלום مرحبا 王\u200D五 👩‍💻 ");
    }

    void clean()
    {
        QFETCH(QString, sent);
        QFETCH(QString, shown);
        QCOMPARE(DisplayText::clean(sent), shown);
    }
};

TAPTEMPEST_TEST_MAIN(TestDisplayText)
#include "tst_displaytext.moc"
