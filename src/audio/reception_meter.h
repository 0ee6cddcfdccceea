#pragma once

#include "audio_packets.h"
#include "audio_pass.h"

#include <QElapsedTimer>

#include <deque>

// How the relay's packets arrive: what is lost and how unevenly the rest
// come, for the panel's reports to the relay and for its jitter buffer,
// which holds the audio as long as the packets' spread in time over the
// last Window, and no longer.
class ReceptionMeter
{
public:
    static constexpr qint64 WindowMilliseconds = 4000;
    static constexpr int MinDelay = 10;
    static constexpr int MaxDelay = 800;

    ReceptionMeter();

    void arrived(const AudioPackets::Header &header);
    // What came since the last call, as `reporter` reports it.
    Reception reception(quint32 reporter);
    // The delay, in milliseconds, that would have played every packet of
    // the last Window in time.
    int playoutDelay() const;

private:
    struct Transit
    {
        qint64 arrived;
        double milliseconds;
    };

    void restart(const AudioPackets::Header &header);

    QElapsedTimer m_clock;
    bool m_started = false;
    quint32 m_source = 0;
    quint32 m_base = 0;
    // The highest sequence number with its wraps counted.
    quint32 m_highest = 0;
    quint32 m_received = 0;
    quint32 m_expectedBefore = 0;
    quint32 m_receivedBefore = 0;
    double m_lastTransit = 0;
    double m_jitter = 0;
    std::deque<Transit> m_transits;
};
