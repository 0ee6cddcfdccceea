#include "audio/reception_meter.h"

#include "audio_stream_format.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double SamplesPerMillisecond = AudioStreamFormat::SampleRate / 1000.0;
// Beyond the spread: a frame's worth, for the spread not yet seen.
constexpr int Margin = AudioStreamFormat::FrameMilliseconds;
} // namespace

ReceptionMeter::ReceptionMeter()
{
    m_clock.start();
}

void ReceptionMeter::restart(const AudioPackets::Header &header)
{
    *this = ReceptionMeter();
    m_started = true;
    m_source = header.ssrc;
    m_base = m_highest = header.sequence;
    m_lastTransit = double(m_clock.elapsed()) - header.timestamp / SamplesPerMillisecond;
}

// The jitter as RFC 3550 estimates it; the spread from the transit times
// themselves, whose offset (the two clocks differ) cancels out.
void ReceptionMeter::arrived(const AudioPackets::Header &header)
{
    if (!m_started || header.ssrc != m_source)
        restart(header);
    ++m_received;
    const quint16 ahead = quint16(header.sequence - quint16(m_highest));
    if (ahead < 0x8000)
        m_highest += ahead;
    const qint64 now = m_clock.elapsed();
    const double transit = double(now) - header.timestamp / SamplesPerMillisecond;
    m_jitter += (std::abs(transit - m_lastTransit) - m_jitter) / 16;
    m_lastTransit = transit;
    m_transits.push_back({now, transit});
    while (now - m_transits.front().arrived > WindowMilliseconds)
        m_transits.pop_front();
}

Reception ReceptionMeter::reception(quint32 reporter)
{
    Reception reception;
    reception.reporter = reporter;
    reception.source = m_source;
    reception.highestSequence = m_highest;
    reception.jitter = quint32(m_jitter * SamplesPerMillisecond);
    const quint32 expected = m_started ? m_highest - m_base + 1 : 0;
    const qint64 expectedNow = qint64(expected) - m_expectedBefore;
    const qint64 lostNow = expectedNow - (qint64(m_received) - m_receivedBefore);
    if (expectedNow > 0 && lostNow > 0)
        reception.fractionLost = quint8(std::min<qint64>(255, lostNow * 256 / expectedNow));
    m_expectedBefore = expected;
    m_receivedBefore = m_received;
    return reception;
}

int ReceptionMeter::playoutDelay() const
{
    if (m_transits.empty())
        return MinDelay;
    const auto [least, most]
        = std::minmax_element(m_transits.begin(), m_transits.end(), [](const Transit &a, const Transit &b) {
              return a.milliseconds < b.milliseconds;
          });
    const int spread = int(std::ceil(most->milliseconds - least->milliseconds));
    return std::clamp(spread + Margin, MinDelay, MaxDelay);
}
