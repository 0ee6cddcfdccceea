#pragma once

#include "access_list.h"
#include "connection.h"
#include "handshakes.h"
#include "identity.h"
#include "operators.h"
#include "radio_queue.h"
#include "relay_audio.h"
#include "session.h"
#include "transmitter.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class PseudoTerminal;
class RadioLine;
class TerminalSession;

// The one place where the radio is shared: panels on the panel's port
// (greeted with Greeting, signing off with "##"), CAT programs on a plain
// TCP port and on pseudo-terminals, each in a session of its own, all
// through one RadioQueue to the radio.
//
// Only clients the access list admits are served (this computer's unless
// told otherwise); any other is closed at once, unheard and ungreeted. On a
// secure endpoint ("tls:ADDRESS:PORT") a client must then link over TLS with
// the key of one of the station's operators, whose role decides what its
// commands may do; it is heard, greeted and answered only after that, and it
// is cut off once its key is taken off the list.
// Beyond the most clients it serves, a panel gets BusyText (which has
// neither a leading "!!" nor a ';', so no panel can take it for the
// greeting or a reply) and a CAT program is closed without a word; nobody
// is queued, and the connection is let go at once. A client that has
// vanished is found out (see Liveness), and one that lets more than
// SocketSession::MaxBacklog bytes pile up unread is cut off. Audio clients
// have a limit of their own, and are turned away while descriptors run short,
// so that panels and CAT programs are always answered. Every client that
// comes, is turned away or goes is told to message().
class RelayServer : public QObject
{
    Q_OBJECT

public:
    // The greeting tells the transmit-time limit in seconds, by which a
    // panel also knows that its push-to-talk is held under a lease.
    static constexpr QByteArrayView Greeting = "!!Q9 relay ready tx=%1;";
    // With audio the greeting names its port, and gives the panel its pass
    // for the audio over UDP: "!!Q9 relay ready tx=180 udp=PASS
    // audio=2302;". A panel that knows only the port finds it before the
    // ';' as ever.
    static constexpr QByteArrayView AudioGreeting = "!!Q9 relay ready tx=%1 udp=%2 audio=%3;";
    static constexpr QByteArrayView BusyText = "Q9 relay busy: it serves no more clients at once\r\n";
    static constexpr int DefaultMaxClients = 4;
    static constexpr int DefaultMaxAudioClients = 8;
    static constexpr QStringView DefaultTerminalGroup = u"dialout";
    // Descriptors kept free beyond one for each client the relay may serve,
    // for the busy line and what the relay itself opens.
    static constexpr int SpareDescriptors = 16;

    explicit RelayServer(RadioLine &radio, QObject *parent = nullptr);
    ~RelayServer() override;

    // How a client sees the server, for a program's --help.
    static QString behaviour();

    // What is wrong with an endpoint as a listen address, or an empty text
    // when it is one, so a program can refuse it as a bad command line.
    static QString endpointProblem(const QString &endpoint);

    void setAccess(const AccessList &access);
    void setLiveness(const Liveness &liveness);
    void setMaxClients(int maxClients);
    void setMaxAudioClients(int maxAudioClients);
    // The group whose members may open the terminals served after this, as
    // the serial port's users may open a serial port. When it cannot be
    // given the group, a terminal is refused if the group is required, and
    // otherwise served to the relay's own user alone, with a warning.
    void setTerminalGroup(const QString &group, bool required);
    RadioQueue &queue() { return m_queue; }
    Transmitter &transmitter() { return m_transmitter; }
    // For secure endpoints: the relay's own key, kept in keyFile (made there
    // on first use), and the station's operators, listed in operatorsFile
    // (see Operators). False, with the reason, when the key can be neither
    // read nor made.
    bool useKeys(const QString &keyFile, const QString &operatorsFile);
    QString fingerprint() const { return m_identity ? m_identity->fingerprint() : QString(); }
    qsizetype pendingHandshakes() const { return m_handshakes.pending(); }

    // endpoint is "ADDRESS:PORT", e.g. "127.0.0.1:2300", "[::1]:0", or
    // "[::]:2300" for every address, IPv6 and IPv4; "tls:" in front makes
    // it secure, which needs the relay's key. Warns once when no
    // client that can reach the address is admitted, or when it reaches
    // beyond this computer but only its own clients are admitted.
    bool listen(const QString &endpoint, Session::Protocol protocol = Session::Protocol::Panel);
    // A pseudo-terminal linked at linkPath, for CAT programs that open
    // serial ports only, one at a time.
    bool serveTerminal(const QString &linkPath);
    // The receiver's audio for clients on endpoint, admitted as every
    // client is; a panel's greeting names the port while the audio flows.
    // False when the endpoint cannot be listened on; a source that fails is
    // tried again meanwhile.
    bool serveAudio(const QString &endpoint, std::unique_ptr<AudioStream> stream);
    // The transmitting panel's audio, which comes the way the receiver's
    // goes, played into the radio's audio input by `sink` (TransmitAudio's
    // names) while it holds the transmitter.
    void playTransmitAudio(const QString &sink);
    QString audioEndpoint() const;
    int audioListenerCount() const { return m_audio.listenerCount(); }
    QString errorString() const;
    // Where it listens for that protocol, as "ADDRESS:PORT".
    QString endpoint(Session::Protocol protocol = Session::Protocol::Panel) const;
    // The network clients that hold a place.
    int clientCount() const;

    // Takes the radio (its reports on for the relay) and, when the relay
    // stops, gives it back as it was found.
    void takeRadio();
    void giveRadioBack();

signals:
    void message(const QString &text);

private:
    struct Endpoint;
    struct Terminal;

    Endpoint *openEndpoint(const QString &address, Session::Protocol protocol, bool audio);
    void judge(int descriptor, const QHostAddress &address, quint16 port, const Endpoint &endpoint);
    static QString clientName(const Endpoint &endpoint, const Connection &connection);
    void admit(Connection *connection, const Endpoint &endpoint);
    void admitAudio(Connection *connection, const QString &operatorName);
    void revokeUnknownKeys();
    void turnAway(Connection *connection, const QString &why, const QByteArray &text = {});
    QByteArray greeting(const Session *session);
    void offerAudio();
    bool descriptorsToSpare() const;
    void serve(Session *session);
    void programOpened(Terminal &terminal);
    void closeNetworkClients(const QString &why);

    RadioLine &m_radio;
    RadioQueue m_queue;
    Transmitter m_transmitter;
    AccessList m_access;
    std::optional<Identity> m_identity;
    Operators m_operators;
    Handshakes m_handshakes;
    Liveness m_liveness;
    int m_maxClients = DefaultMaxClients;
    int m_maxAudioClients = DefaultMaxAudioClients;
    QString m_terminalGroup;
    bool m_terminalGroupRequired = false;
    std::vector<std::unique_ptr<Endpoint>> m_endpoints;
    std::vector<std::unique_ptr<Terminal>> m_terminals;
    QList<QPointer<SocketSession>> m_clients;
    QString m_errorString;
    RelayAudio m_audio;
    Endpoint *m_audioEndpoint = nullptr;
    // Whether the linked panels were last told of audio.
    bool m_offered = false;
};
