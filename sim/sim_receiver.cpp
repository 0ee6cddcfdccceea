#include "sim_receiver.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
// Levels at full scale 1: the carrier well above the noise, with room for
// the preamp before clipping.
constexpr double CarrierLevel = 0.25;
constexpr double NoiseLevel = 0.04;
constexpr double PreampGain = 2.0;
constexpr double AttenuatorGain = 0.25;
} // namespace

SimReceiver::SimReceiver(const SimRadio &radio, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
{
    connect(&radio, &SimRadio::commandsTaken, this, &SimReceiver::follow);
    follow();
}

void SimReceiver::follow()
{
    const RadioState &state = m_radio.state();
    const qint64 distance = std::abs(CarrierHz - state.vfo[size_t(state.receiveVfo)]);
    m_toneHz = distance < MaxToneHz ? int(distance) : 0;
    m_gain = (state.preamp ? PreampGain : 1.0) * (state.attenuator ? AttenuatorGain : 1.0);
}

void SimReceiver::fill(std::span<qint16> samples)
{
    const double gain = m_gain;
    const double step = 2 * std::numbers::pi * m_toneHz / SampleRate;
    for (qint16 &sample : samples) {
        // White noise from a small generator of its own, smoothed into the
        // hiss of a receiver's passband.
        m_noiseState = m_noiseState * 1664525u + 1013904223u;
        const double white = double(m_noiseState) / 2147483648.0 - 1.0;
        m_noise += 0.3 * (white - m_noise);
        const double carrier = step > 0 ? CarrierLevel * std::sin(m_phase) : 0.0;
        m_phase = std::fmod(m_phase + step, 2 * std::numbers::pi);
        const double value = gain * (carrier + NoiseLevel * 2 * m_noise);
        sample = qint16(std::lround(std::clamp(value, -1.0, 1.0) * 32767));
    }
}
