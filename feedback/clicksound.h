#pragma once

#include <QObject>

class QSoundEffect;

// The short sound of a click. One effect instance plays at a time, so fast clicking cannot
// pile sounds up: a click while the sound still plays starts it again from the beginning.
// Without an audio device it says so once in the log and stays silent.
class ClickSound : public QObject
{
    Q_OBJECT

public:
    explicit ClickSound(QObject *parent = nullptr);

    void play();
    // How many clicks asked for the sound, whether or not a device could play it.
    int requested() const { return requestCount; }
    // False once the sound could not be loaded or played.
    bool usable() const { return !failed; }

private:
    void fail(const char *why);

    QSoundEffect *effect = nullptr;
    int requestCount = 0;
    bool failed = false;
};
