#include "relay_server.h"

#include <QTcpSocket>

#include <optional>

namespace {

struct Endpoint
{
    QHostAddress address;
    quint16 port = 0;
};

std::optional<Endpoint> parseEndpoint(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    const QHostAddress address
        = host == u"localhost" ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (address.isNull() || !ok || port > 65535)
        return std::nullopt;
    return Endpoint{address, quint16(port)};
}

QString describe(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? u'[' + address.toString() + u']'
        : address.toString();
    return host + u':' + QString::number(port);
}

// Lets queued bytes go out first, then frees the socket.
void closeAndDelete(QTcpSocket *socket)
{
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

} // namespace

RelayServer::RelayServer(QObject *parent)
    : QObject(parent)
{
    // Queued, so that when a client hangs up and the next one connects in
    // the same pass of the event loop, the hang-up is seen first and the
    // newcomer is not turned away as a second client.
    connect(&m_server, &QTcpServer::newConnection, this, &RelayServer::acceptConnections,
            Qt::QueuedConnection);
}

// The client socket is a child of m_server and dies after our other
// members; its last disconnected() must not reach us any more.
RelayServer::~RelayServer()
{
    if (m_client)
        m_client->disconnect(this);
}

QString RelayServer::behaviour()
{
    return QStringLiteral("Each client is greeted with \"%1\", then bytes pass both ways\n"
                          "unchanged; the client's \"##\" ends its session. One client at a time:\n"
                          "another one is sent the line \"%2\"\n"
                          "and closed at once. A client that leaves more than %3 KiB unread is cut off.")
        .arg(QString::fromLatin1(Greeting), QString::fromLatin1(BusyText.trimmed()))
        .arg(MaxClientBacklog / 1024);
}

QString RelayServer::endpointProblem(const QString &endpoint)
{
    if (parseEndpoint(endpoint))
        return {};
    return QStringLiteral("bad listen address \"%1\" (expected ADDRESS:PORT, e.g. 127.0.0.1:2300)")
        .arg(endpoint);
}

bool RelayServer::listen(const QString &endpoint)
{
    const auto parsed = parseEndpoint(endpoint);
    if (!parsed) {
        m_errorString = endpointProblem(endpoint);
        return false;
    }
    if (!m_server.listen(parsed->address, parsed->port)) {
        m_errorString = QStringLiteral("cannot listen on %1: %2").arg(endpoint, m_server.errorString());
        return false;
    }
    return true;
}

QString RelayServer::errorString() const
{
    return m_errorString;
}

QString RelayServer::endpoint() const
{
    return describe(m_server.serverAddress(), m_server.serverPort());
}

void RelayServer::sendToClient(const QByteArray &data)
{
    if (!m_client)
        return;
    if (m_client->bytesToWrite() + data.size() > MaxClientBacklog) {
        emit message(QStringLiteral("client %1 is not reading; cutting it off").arg(m_clientName));
        m_client->abort();
        return;
    }
    m_client->write(data);
}

void RelayServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_client)
            refuse(socket);
        else
            serve(socket);
    }
}

void RelayServer::serve(QTcpSocket *socket)
{
    m_client = socket;
    m_clientName = describe(socket->peerAddress(), socket->peerPort());
    m_holdingHash = false;
    connect(socket, &QTcpSocket::readyRead, this, &RelayServer::readClient);
    connect(socket, &QTcpSocket::errorOccurred, this, &RelayServer::reportClientError);
    connect(socket, &QTcpSocket::disconnected, this,
            [this] { dropClient(QStringLiteral("client %1 left").arg(m_clientName)); });
    socket->write(Greeting.toByteArray());
    emit message(QStringLiteral("client %1 connected").arg(m_clientName));
}

void RelayServer::refuse(QTcpSocket *socket)
{
    emit message(QStringLiteral("refused %1: busy with %2")
                     .arg(describe(socket->peerAddress(), socket->peerPort()), m_clientName));
    socket->write(BusyText.toByteArray());
    closeAndDelete(socket);
}

// The sign-off may be split across reads, so a trailing '#' is held back
// until the next byte shows what it was.
void RelayServer::readClient()
{
    QByteArray data = m_client->readAll();
    if (m_holdingHash)
        data.prepend('#');
    const qsizetype signOff = data.indexOf(SignOff);
    if (signOff >= 0)
        data.truncate(signOff);
    m_holdingHash = signOff < 0 && data.endsWith('#');
    if (m_holdingHash)
        data.chop(1);
    if (!data.isEmpty())
        emit clientData(data);
    if (signOff >= 0)
        dropClient(QStringLiteral("client %1 signed off").arg(m_clientName));
}

void RelayServer::reportClientError()
{
    if (m_client->error() != QAbstractSocket::RemoteHostClosedError)
        emit message(QStringLiteral("client %1: %2").arg(m_clientName, m_client->errorString()));
}

void RelayServer::dropClient(const QString &why)
{
    if (!m_client)
        return;
    QTcpSocket *socket = m_client;
    m_client = nullptr;
    socket->disconnect(this);
    closeAndDelete(socket);
    emit message(why);
}
