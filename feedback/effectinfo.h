#pragma once

#include <QColor>
#include <QString>

// Animation family of a click effect; the numbers are stored in the catalogue.
enum class EffectType : int
{
    Float = 0,
    Fall = 1,
    Ring = 2,
    Burst = 3,
    Streak = 4,
    Shake = 5,
    BounceText = 6,
};

// One entry of the compiled-in effect catalogue.
struct EffectInfo
{
    QString name;
    QString cssClass; // the server's identifier of the effect
    QString symbol;   // empty where the family draws no text
    QColor color;
    int type = 0; // an EffectType value
    int count = 0;
    int duration = 0; // ms
};
