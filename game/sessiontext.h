#pragma once

#include <QString>

// Every text the game session shows the player, in one place.
class SessionText
{
public:
    static QString synced();
    static QString offline();
    static QString loadFailed(const QString &error);
    static QString expired();
    static QString exchanged(qint64 goldGained);
    static QString deposited(qint64 yuan);
};
