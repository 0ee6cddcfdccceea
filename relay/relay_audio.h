#pragma once

#include "audio_listeners.h"
#include "audio_pass.h"
#include "audio_stream.h"
#include "transmit_audio.h"
#include "udp_audio.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class Connection;
class Session;
class Transmitter;

// The radio's audio both ways, as the relay serves it. The receiver's
// stream goes over UDP to each linked panel that has shown its pass, and
// framed over TCP to the clients of the audio port; a source that fails is
// tried again meanwhile. The audio of the panel that holds the transmitter
// comes back either way and is played into the radio's audio input, and
// renews that panel's hold while it comes; nobody else's is played.
class RelayAudio : public QObject
{
    Q_OBJECT

public:
    explicit RelayAudio(Transmitter &transmitter, QObject *parent = nullptr);

    // Serves the stream beside the audio port's TCP listener at
    // address:port, and on UDP there; false, with the reason, when UDP
    // cannot be had and the stream goes over TCP alone.
    bool serve(std::unique_ptr<AudioStream> stream, const QHostAddress &address, quint16 port,
               QString *udpProblem);
    // The transmitting panel's audio, played into `sink` (TransmitAudio's
    // names).
    void playInto(const QString &sink);
    bool isFlowing() const { return m_stream && m_stream->isFlowing(); }

    // The session's pass, granted at its first greeting with audio and kept
    // while it is linked.
    const AudioPass &passFor(const Session &session);
    void forget(const Session &session);

    // A client of the audio port over TCP.
    void addListener(Connection *connection);
    int tcpListenerCount() const { return m_listeners.count(); }
    int listenerCount() const { return m_listeners.count() + m_udp.receiving(); }
    void dropListenersIf(const std::function<bool(const Connection &)> &condition, const QString &why);

signals:
    void message(const QString &text);
    // The audio has come or gone: the panels' greetings change.
    void flowingChanged();

private:
    void hearSpeech(const QByteArray &id, const QByteArray &packet, const QByteArray &srtpKey);

    Transmitter &m_transmitter;
    std::unique_ptr<AudioStream> m_stream;
    std::unique_ptr<TransmitAudio> m_transmitAudio;
    UdpAudio m_udp;
    AudioListeners m_listeners;
    std::map<const Session *, AudioPass> m_passes;
};
