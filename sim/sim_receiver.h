#pragma once

#include "sim_radio.h"

#include <QObject>

#include <atomic>
#include <span>

// What the simulated radio hears: band noise and one steady carrier on
// CarrierHz, heard as a tone at its distance from the receive VFO while
// that is under MaxToneHz, all of it louder with the preamp and softer
// with the attenuator. It follows the radio's state as commands change it;
// fill() makes the audio on whichever thread asks for it.
class SimReceiver : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 CarrierHz = 14'060'600;
    static constexpr int MaxToneHz = 3000;
    static constexpr int SampleRate = 48000;

    explicit SimReceiver(const SimRadio &radio, QObject *parent = nullptr);

    // The tone heard now, 0 when the carrier is out of the passband.
    int toneHz() const { return m_toneHz; }
    double gain() const { return m_gain; }

    // The next samples, mono at SampleRate.
    void fill(std::span<qint16> samples);

private:
    void follow();

    const SimRadio &m_radio;
    std::atomic<int> m_toneHz = 0;
    std::atomic<double> m_gain = 1.0;
    // Only fill() touches these.
    double m_phase = 0;
    quint32 m_noiseState = 1;
    double m_noise = 0;
};
