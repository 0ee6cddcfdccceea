#pragma once

#include <QRandomGenerator>

// S-meter readings of a band with some life in it: a noise floor that
// wanders a little and now and then a station that comes up and fades.
// Readings run 0..20 (0..15 is S0..S9, above that S9 and more).
class SignalMeter
{
public:
    static constexpr int MaxReading = 20;

    explicit SignalMeter(quint32 seed);

    int next();

private:
    QRandomGenerator m_random;
    int m_noiseFloor = 3;
    int m_station = 0;
};
