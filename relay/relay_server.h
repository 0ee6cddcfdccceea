#pragma once

#include "access_list.h"
#include "command_framer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QTcpServer>

#include <chrono>
#include <optional>

class QTcpSocket;
class RadioLine;

// Puts one network client at a time in touch with a radio. The radio's
// bytes reach the client unchanged; the client's reach the radio only as
// whole commands (see CommandFramer), and its sign-off "##" ends its
// session. What a session leaves unfinished is dropped with it. While the
// radio is busy the client is not read, so that the network slows it down.
//
// Only clients the access list admits are served (loopback ones unless told
// otherwise); any other is closed at once, unheard and ungreeted.
// A client arriving while another is served gets BusyText (which has
// neither a leading "!!" nor a ';', so no panel can take it for the
// greeting or a reply) and is closed at once; nobody is queued.
// A client that lets more than MaxClientBacklog bytes pile up unread is
// disconnected (what the kernel holds for it counts, and its send buffer
// is kept small), and one that has vanished is found out (see Liveness).
// Every client that comes, is turned away or goes is told to message().
class RelayServer : public QObject
{
    Q_OBJECT

public:
    static constexpr QByteArrayView Greeting = "!!Q9 relay ready;";
    static constexpr QByteArrayView BusyText = "Q9 relay busy: another client is connected\r\n";
    static constexpr qsizetype MaxClientBacklog = 64 * 1024;
    // The kernel's send buffer for a client, and what is read from it at a
    // time: small beside the backlog, so that neither hides a client that
    // does not read or floods.
    static constexpr int ClientSendBuffer = 8 * 1024;
    static constexpr qint64 ClientReadBuffer = 4 * 1024;

    // How a served client that vanished without a word (its computer off,
    // its network gone) is found out, so that it does not keep the radio
    // from everyone: after `idle` without a sign of life its end is asked up
    // to `probes` times, `interval` apart, and the connection ends once
    // nothing has come back for `silence`. A quiet panel that is still there
    // answers and keeps the radio. The defaults free it within about 30 s.
    struct Liveness
    {
        std::chrono::seconds idle{10};
        std::chrono::seconds interval{5};
        int probes = 4;
        std::chrono::milliseconds silence{30000};
    };

    explicit RelayServer(RadioLine &radio, QObject *parent = nullptr);
    ~RelayServer() override;

    // How a client sees the server, for a program's --help.
    static QString behaviour();

    // What is wrong with an endpoint as a listen address, or an empty text
    // when it is one, so a program can refuse it as a bad command line.
    static QString endpointProblem(const QString &endpoint);

    void setAccess(const AccessList &access);
    void setLiveness(const Liveness &liveness);

    // endpoint is "ADDRESS:PORT", e.g. "127.0.0.1:2300", "[::1]:0", or
    // "[::]:2300" for every address, IPv4 and IPv6. Warns once when the
    // address reaches beyond this computer but only loopback clients are
    // admitted.
    bool listen(const QString &endpoint);
    QString errorString() const;
    QString endpoint() const;
    bool hasClient() const { return !m_client.isNull(); }

    void sendToClient(const QByteArray &data);
    // Ends the served client's session; `why` goes into the log.
    void closeClient(const QString &why);

signals:
    void message(const QString &text);

private:
    void acceptConnections();
    void backOff(int error);
    void judge(QTcpSocket *socket, const QHostAddress &address, const QString &name);
    void serve(QTcpSocket *socket, const QString &name);
    void refuse(QTcpSocket *socket, const QString &name);
    void watchLiveness(QTcpSocket *socket);
    void limitSendBuffer(QTcpSocket *socket);
    void noticeHangUp();
    void readClient();
    void relayFromClient(QByteArrayView data);
    qint64 unreadByClient() const;
    void clientFailed();
    // What is queued for the client still leaves, unless it is cut off.
    enum class Parting { Gently, CutOff };
    void endSession(const QString &what, Parting parting = Parting::Gently);

    RadioLine &m_radio;
    QTcpServer m_server;
    QSocketNotifier m_acceptor{QSocketNotifier::Read};
    AccessList m_access;
    Liveness m_liveness;
    QPointer<QTcpSocket> m_client;
    QString m_clientName;
    QString m_errorString;
    std::optional<CommandFramer> m_framer;
};
