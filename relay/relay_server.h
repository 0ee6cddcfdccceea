#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// Puts one network client at a time in touch with a radio. Bytes pass both
// ways unchanged, except that the client's sign-off "##" is taken out and
// ends its session. Whoever owns the server wires clientData() to the
// radio and the radio's output to sendToClient().
//
// A client arriving while another is served gets BusyText (which has
// neither a leading "!!" nor a ';', so no panel can take it for the
// greeting or a reply) and is closed at once; nobody is queued.
// A client that lets more than MaxClientBacklog bytes pile up unread is
// disconnected.
class RelayServer : public QObject
{
    Q_OBJECT

public:
    static constexpr QByteArrayView Greeting = "!!Q9 relay ready;";
    static constexpr QByteArrayView BusyText = "Q9 relay busy: another client is connected\r\n";
    static constexpr QByteArrayView SignOff = "##";
    static constexpr qsizetype MaxClientBacklog = 64 * 1024;

    explicit RelayServer(QObject *parent = nullptr);
    ~RelayServer() override;

    // How a client sees the server, for a program's --help.
    static QString behaviour();

    // What is wrong with an endpoint as a listen address, or an empty text
    // when it is one, so a program can refuse it as a bad command line.
    static QString endpointProblem(const QString &endpoint);

    // endpoint is "ADDRESS:PORT", e.g. "127.0.0.1:2300" or "[::1]:0".
    bool listen(const QString &endpoint);
    QString errorString() const;
    QString endpoint() const;
    bool hasClient() const { return !m_client.isNull(); }

public slots:
    void sendToClient(const QByteArray &data);

signals:
    void clientData(const QByteArray &data);
    void message(const QString &text);

private:
    void acceptConnections();
    void serve(QTcpSocket *socket);
    void refuse(QTcpSocket *socket);
    void readClient();
    void reportClientError();
    void dropClient(const QString &why);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QString m_clientName;
    QString m_errorString;
    bool m_holdingHash = false;
};
