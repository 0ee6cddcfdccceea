#pragma once

#include "audio/audio_feeds.h"
#include "audio/reception_meter.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

// Brings the relay's audio to the panel by whichever way passes: UDP with
// the panel's pass first, where a relay offers it; the framed stream on TCP
// where no UDP packet comes within UdpTrial (an SSH tunnel, a network that
// blocks UDP). A way that falls silent or fails is opened anew, again and
// again, for as long as the receiver lives, so the audio comes back by
// itself once the network does. It lives on the player's thread.
class AudioReceiver : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds UdpTrial{1000};
    // Silent this long and a way is given up: UDP keeps its reports going
    // through an outage, TCP is opened anew.
    static constexpr std::chrono::milliseconds UdpSilence{5000};
    static constexpr std::chrono::milliseconds StreamSilence{2000};
    static constexpr std::chrono::milliseconds RetryDelay{250};

    explicit AudioReceiver(const AudioRoute &route, QObject *parent = nullptr);

    void open();
    const ReceptionMeter &meter() const { return m_meter; }
    // A packet of the operator's to the relay, the way its audio comes;
    // dropped while no way is found.
    void send(const QByteArray &packet);

signals:
    // The first packet of a way: the packets that follow are SRTP under
    // `srtpKey`, or plain RTP when it is empty.
    void started(const QByteArray &srtpKey);
    void packet(const QByteArray &packet);
    // No way brought any audio on the first try, and why; told once.
    void unreachable(const QString &why);

private:
    enum class Way { Udp, Stream };

    void tryWay(Way way);
    void take(const QByteArray &rtp);
    void fail(const QString &why);
    void fallSilent();

    AudioRoute m_route;
    std::unique_ptr<AudioFeed> m_feed;
    Way m_way = Way::Stream;
    quint32 m_reporter = 0;
    bool m_flowing = false;
    bool m_everFlowed = false;
    bool m_told = false;
    quint64 m_reports = 0;
    QTimer m_silence;
    QTimer m_retry;
    ReceptionMeter m_meter;
};
