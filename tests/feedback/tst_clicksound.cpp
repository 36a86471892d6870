#include "feedback/clicksound.h"
#include "support/testenv.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QtTest>

namespace {

QStringList soundLines;

void collect(QtMsgType, const QMessageLogContext &context, const QString &text)
{
    if (context.category && QByteArray(context.category) == "taptempest.sound")
        soundLines << text;
}

} // namespace

class TestClickSound : public QObject
{
    Q_OBJECT

private slots:
    void withoutAudioDeviceQuietAndNonBlocking()
    {
        if (!QMediaDevices::defaultAudioOutput().isNull())
            QSKIP("this machine has an audio output");
        soundLines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collect);
        {
            ClickSound sound;
            QVERIFY(!sound.usable());
            for (int i = 0; i < 300; ++i)
                sound.play();
            QCOMPARE(sound.requested(), 300);
        }
        qInstallMessageHandler(previous);
        QCOMPARE(soundLines.size(), 1);
        QVERIFY2(soundLines.first().contains("no audio output"), qPrintable(soundLines.first()));
    }
};

TAPTEMPEST_TEST_MAIN(TestClickSound)
#include "tst_clicksound.moc"
