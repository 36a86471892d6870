#include "clicksound.h"

#include <QAudioDevice>
#include <QLoggingCategory>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

Q_LOGGING_CATEGORY(lcSound, "taptempest.sound")

ClickSound::ClickSound(QObject *parent) : QObject(parent)
{
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        fail("no audio output device");
        return;
    }
    effect = new QSoundEffect(this);
    connect(effect, &QSoundEffect::statusChanged, this, [this]() {
        if (effect->status() == QSoundEffect::Error)
            fail("the click sound could not be loaded or played");
    });
    effect->setSource(QUrl(QStringLiteral("qrc:/sounds/click.wav")));
    effect->setVolume(0.5);
}

void ClickSound::play()
{
    ++requestCount;
    if (failed)
        return;
    // Restarting the one instance keeps at most one sound going at any click rate.
    if (effect->isPlaying())
        effect->stop();
    effect->play();
}

void ClickSound::fail(const char *why)
{
    if (failed)
        return;
    failed = true;
    qCInfo(lcSound, "click sound off: %s", why);
}
