#include "session.h"

#include "pseudo_terminal.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

Session::Session(Protocol protocol, const QString &name, QObject *parent)
    : QObject(parent)
    , m_framer(protocol == Protocol::Panel)
    , m_protocol(protocol)
    , m_name(name)
{ }

void Session::readOn()
{
    if (queue.size() >= MaxQueued)
        return;
    const CommandFramer::Cut cut = m_framer.feed(readAvailable());
    queue += cut.commands;
    if (!cut.commands.isEmpty())
        emit queued();
    if (cut.signedOff)
        end(QStringLiteral("signed off"));
}

void Session::forgetUnfinished()
{
    if (const qsizetype left = m_framer.unfinished().size())
        emit message(QStringLiteral("%1 left %2 bytes of a command unfinished; dropped").arg(m_name).arg(left));
    m_framer = CommandFramer(m_protocol == Protocol::Panel);
}

SocketSession::SocketSession(QTcpSocket *socket, Protocol protocol, const QString &name, QObject *parent)
    : Session(protocol, name, parent)
    , m_socket(socket)
{
    socket->setParent(this);
    socket->setReadBufferSize(ReadBuffer);
    connect(socket, &QTcpSocket::readyRead, this, &Session::readOn);
    connect(socket, &QTcpSocket::errorOccurred, this, &SocketSession::failed);
    connect(socket, &QTcpSocket::disconnected, this, [this] { end(QStringLiteral("closed the connection")); });
}

// Its socket dies with it; its last disconnected() must not reach it then.
SocketSession::~SocketSession()
{
    if (m_socket)
        m_socket->disconnect(this);
}

void SocketSession::deliver(const QByteArray &text)
{
    if (!m_socket)
        return;
    if (unread() + text.size() > MaxBacklog)
        finish(QStringLiteral("is not reading; cut off"), Parting::CutOff);
    else
        m_socket->write(text);
}

void SocketSession::end(const QString &what)
{
    finish(what, Parting::Gently);
}

// A client's hang-up and a newcomer's arrival can be noticed in either
// order; before a newcomer is turned away for want of room, what a client
// that has gone left behind and its hang-up are taken now.
bool SocketSession::hungUp()
{
    if (!m_socket)
        return true;
    const int descriptor = int(m_socket->socketDescriptor());
    pollfd hangUp{descriptor, POLLRDHUP, 0};
    if (::poll(&hangUp, 1, 0) != 1)
        return false;
    QByteArray rest = m_socket->readAll();
    char chunk[4096];
    for (ssize_t size; (size = ::recv(descriptor, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;)
        rest.append(chunk, size);
    const CommandFramer::Cut cut = m_framer.feed(rest);
    queue += cut.commands;
    if (!cut.commands.isEmpty())
        emit queued();
    end(cut.signedOff ? QStringLiteral("signed off") : QStringLiteral("closed the connection"));
    return true;
}

QByteArray SocketSession::readAvailable()
{
    return m_socket ? m_socket->readAll() : QByteArray();
}

// What the client has not taken yet: in our buffer and in the kernel's.
qint64 SocketSession::unread() const
{
    int queued = 0;
    if (::ioctl(int(m_socket->socketDescriptor()), SIOCOUTQ, &queued) != 0)
        queued = 0;
    return m_socket->bytesToWrite() + queued;
}

void SocketSession::failed()
{
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError)
        end(QStringLiteral("closed the connection"));
    else
        finish(QStringLiteral("lost: %1").arg(m_socket->errorString()), Parting::CutOff);
}

// What is queued for the client still leaves, unless it is cut off; the
// socket outlives the session for that.
void SocketSession::finish(const QString &what, Parting parting)
{
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->setParent(parent());
    if (parting == Parting::CutOff || socket->state() == QAbstractSocket::UnconnectedState) {
        socket->abort();
        socket->deleteLater();
    } else {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
    }
    emit message(QStringLiteral("%1 %2").arg(name(), what));
    forgetUnfinished();
    queue.clear();
    emit ended();
}

TerminalSession::TerminalSession(PseudoTerminal &terminal, const QString &name, QObject *parent)
    : Session(Protocol::Cat, name, parent)
    , m_terminal(terminal)
{
    m_staleTimer.setSingleShot(true);
    m_staleTimer.setInterval(StaleCommand);
    connect(&m_staleTimer, &QTimer::timeout, this, [this] { forgetUnfinished(); });
    connect(&terminal, &PseudoTerminal::readyRead, this, [this] {
        readOn();
        if (m_framer.unfinished().isEmpty())
            m_staleTimer.stop();
        else
            m_staleTimer.start();
    });
}

void TerminalSession::deliver(const QByteArray &text)
{
    m_terminal.write(text);
}

void TerminalSession::end(const QString &what)
{
    emit message(QStringLiteral("%1 %2").arg(name(), what));
    forgetUnfinished();
    queue.clear();
}

QByteArray TerminalSession::readAvailable()
{
    return m_terminal.readAll();
}
