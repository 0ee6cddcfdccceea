#pragma once

#include "access_list.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QTcpServer>

#include <chrono>

class QTcpSocket;

// Puts one network client at a time in touch with a radio. Bytes pass both
// ways unchanged, except that the client's sign-off "##" is taken out and
// ends its session. Whoever owns the server wires clientData() to the
// radio and the radio's output to sendToClient().
//
// Only clients the access list admits are served (loopback ones unless told
// otherwise); any other is closed at once, unheard and ungreeted.
// A client arriving while another is served gets BusyText (which has
// neither a leading "!!" nor a ';', so no panel can take it for the
// greeting or a reply) and is closed at once; nobody is queued.
// A client that lets more than MaxClientBacklog bytes pile up unread is
// disconnected, and one that has vanished is found out (see Liveness).
// Every client that comes, is turned away or goes is told to message().
class RelayServer : public QObject
{
    Q_OBJECT

public:
    static constexpr QByteArrayView Greeting = "!!Q9 relay ready;";
    static constexpr QByteArrayView BusyText = "Q9 relay busy: another client is connected\r\n";
    static constexpr QByteArrayView SignOff = "##";
    static constexpr qsizetype MaxClientBacklog = 64 * 1024;

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

    explicit RelayServer(QObject *parent = nullptr);
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

public slots:
    void sendToClient(const QByteArray &data);
    // Ends the served client's session; `why` goes into the log.
    void closeClient(const QString &why);

signals:
    void clientData(const QByteArray &data);
    // A new client is served from here on: nothing before this is its.
    void sessionStarted();
    void message(const QString &text);

private:
    void acceptConnections();
    void backOff(int error);
    void judge(QTcpSocket *socket, const QHostAddress &address, const QString &name);
    void serve(QTcpSocket *socket, const QString &name);
    void refuse(QTcpSocket *socket, const QString &name);
    void watchLiveness(QTcpSocket *socket);
    void noticeHangUp();
    void readClient();
    void relayFromClient(QByteArray data);
    void clientFailed();
    // What is queued for the client still leaves, unless it is cut off.
    enum class Parting { Gently, CutOff };
    void endSession(const QString &what, Parting parting = Parting::Gently);

    QTcpServer m_server;
    QSocketNotifier m_acceptor{QSocketNotifier::Read};
    AccessList m_access;
    Liveness m_liveness;
    QPointer<QTcpSocket> m_client;
    QString m_clientName;
    QString m_errorString;
    bool m_holdingHash = false;
};
