#include "link/local_cat_port.h"

#include "cat_commands.h"
#include "framer.h"
#include "host_port.h"
#include "link/push_to_talk.h"
#include "link/socket_control.h"

#include <QTcpSocket>
#include <QTimer>

#include <utility>

namespace {
// No reply of the radio is longer; the relay hands on whole replies only.
constexpr qsizetype MaxReply = 4096;
// A relay that has not greeted by then, or keeps the connection after the
// sign-off, is closed by us.
constexpr std::chrono::seconds EndGrace{5};
const QByteArray SignOff = QByteArrayLiteral("##");

bool isGreeting(const QByteArray &reply)
{
    return reply.startsWith("!!");
}

// A computer without IPv6 has no ::1 to listen on; its programs use
// 127.0.0.1.
bool lacksIpv6(const QTcpServer &listener)
{
    return listener.serverError() == QAbstractSocket::UnsupportedSocketOperationError
        || listener.serverError() == QAbstractSocket::SocketAddressNotAvailableError;
}
} // namespace

// One program and its own connection to the relay. What the program sends
// before the relay has greeted waits for the greeting, so that nothing
// reaches a relay that has not taken the link; a program that has gone by
// then still has it delivered before the sign-off. The link ends itself
// once both connections are closed.
class LocalCatPort::ProgramLink : public QObject
{
public:
    ProgramLink(QTcpSocket *program, const Route &route, LocalCatPort &port);

    // The program has gone, or the panel's link: the relay is signed off
    // and the program's connection closed, each once what it was given has
    // left.
    void end();

private:
    void judgeRelayKey(const QString &key);
    void fromRelay(const QByteArray &bytes);
    void greeted();
    void fromProgram();
    void relayEnded();
    void signOff();
    void finishOnceClosed();
    void followKeying(const QByteArray &bytes);
    void renewKeying();

    LocalCatPort &m_port;
    QTcpSocket *m_program;
    QString m_name;
    SocketControl m_relay;
    QString m_relayKey;
    Framer m_replies{MaxReply};
    QByteArray m_waiting;
    // The program's commands, only to see it key and unkey: its bytes go on
    // as they come.
    Framer m_commands{CatCommand::MaxLength};
    // A relay that leases the transmitter hears "TX;" again while the
    // program keeps it keyed, between the program's commands.
    QTimer m_renewal;
    bool m_leased = false;
    bool m_greeted = false;
    bool m_ending = false;
};

LocalCatPort::ProgramLink::ProgramLink(QTcpSocket *program, const Route &route, LocalCatPort &port)
    : m_port(port)
    , m_program(program)
    , m_name(joinHostPort(program->peerAddress(), program->peerPort()))
    , m_relayKey(route.relayKey)
{
    program->setParent(this);
    program->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(program, &QTcpSocket::readyRead, this, &ProgramLink::fromProgram);
    connect(program, &QTcpSocket::disconnected, this, &ProgramLink::end);
    connect(program, &QTcpSocket::disconnected, this, &ProgramLink::finishOnceClosed);
    connect(&m_relay, &SocketControl::peerKeyPresented, this, &ProgramLink::judgeRelayKey);
    connect(&m_relay, &RadioLink::received, this, &ProgramLink::fromRelay);
    connect(&m_relay, &RadioLink::failed, this, [this](const QString &why) {
        emit m_port.message(QStringLiteral("CAT program %1 cut off: %2").arg(m_name, why));
    });
    connect(&m_relay, &SocketControl::closed, this, &ProgramLink::relayEnded);
    m_renewal.setInterval(PushToTalk::RenewInterval);
    connect(&m_renewal, &QTimer::timeout, this, &ProgramLink::renewKeying);
    m_relay.connectToRemote(route.server, route.tls);
}

void LocalCatPort::ProgramLink::end()
{
    if (std::exchange(m_ending, true))
        return;
    m_renewal.stop();
    m_program->disconnectFromHost();
    if (m_greeted)
        signOff();
    QTimer::singleShot(EndGrace, this, [this] { m_relay.close(); });
}

// The key the panel's own link was taken with, and no other.
void LocalCatPort::ProgramLink::judgeRelayKey(const QString &key)
{
    if (key == m_relayKey)
        return m_relay.acceptPeer();
    emit m_port.message(
        QStringLiteral(
            "CAT program %1 cut off: the relay presented the key %2, not the %3 of the panel's link")
            .arg(m_name, key, m_relayKey));
    m_relay.close();
}

void LocalCatPort::ProgramLink::fromRelay(const QByteArray &bytes)
{
    for (const QByteArray &reply : m_replies.feed(bytes)) {
        if (!isGreeting(reply)) {
            m_program->write(reply);
        } else if (PushToTalk::isTransmitNotice(QString::fromLatin1(reply))) {
            m_renewal.stop();
        } else if (!std::exchange(m_greeted, true)) {
            m_leased = PushToTalk::leases(QString::fromLatin1(reply));
            greeted();
        }
    }
}

void LocalCatPort::ProgramLink::greeted()
{
    m_relay.send(std::exchange(m_waiting, {}));
    if (m_ending)
        signOff();
}

void LocalCatPort::ProgramLink::fromProgram()
{
    const QByteArray bytes = m_program->readAll();
    followKeying(bytes);
    if (m_greeted)
        m_relay.send(bytes);
    else
        m_waiting += bytes;
}

void LocalCatPort::ProgramLink::followKeying(const QByteArray &bytes)
{
    for (const QByteArray &command : m_commands.feed(bytes)) {
        const QByteArray code = CatCommand::code(command);
        if (code == "TX")
            m_renewal.start();
        else if (code == "RX")
            m_renewal.stop();
    }
}

void LocalCatPort::ProgramLink::renewKeying()
{
    if (m_greeted && m_leased && m_commands.unfinished().isEmpty())
        m_relay.send(QByteArrayLiteral("TX;"));
}

void LocalCatPort::ProgramLink::relayEnded()
{
    m_program->disconnectFromHost();
    finishOnceClosed();
}

void LocalCatPort::ProgramLink::signOff()
{
    m_relay.expectRemoteClose();
    m_relay.send(SignOff);
}

void LocalCatPort::ProgramLink::finishOnceClosed()
{
    if (m_program->state() == QAbstractSocket::UnconnectedState && m_relay.isClosed())
        deleteLater();
}

LocalCatPort::LocalCatPort(QObject *parent)
    : QObject(parent)
{
    connect(&m_ipv4, &QTcpServer::newConnection, this, [this] { admit(m_ipv4); });
    connect(&m_ipv6, &QTcpServer::newConnection, this, [this] { admit(m_ipv6); });
}

LocalCatPort::~LocalCatPort() = default;

bool LocalCatPort::open(quint16 port)
{
    if (!m_ipv4.listen(QHostAddress::LocalHost, port)) {
        m_error = m_ipv4.errorString();
        return false;
    }
    if (m_ipv6.listen(QHostAddress::LocalHostIPv6, port) || lacksIpv6(m_ipv6))
        return true;
    m_error = m_ipv6.errorString();
    m_ipv4.close();
    return false;
}

void LocalCatPort::close()
{
    m_ipv4.close();
    m_ipv6.close();
    endProgramLinks();
}

void LocalCatPort::ride(const ServerAddress &server, const QSslConfiguration &tls, const QString &relayKey)
{
    m_route = Route{server, tls, relayKey};
}

void LocalCatPort::leave()
{
    m_route.reset();
    endProgramLinks();
}

void LocalCatPort::endProgramLinks()
{
    for (ProgramLink *link : std::as_const(m_links))
        link->end();
}

void LocalCatPort::admit(QTcpServer &listener)
{
    while (QTcpSocket *program = listener.nextPendingConnection()) {
        if (!m_route) {
            emit message(QStringLiteral("CAT program %1 turned away: the panel has no server link")
                             .arg(joinHostPort(program->peerAddress(), program->peerPort())));
            connect(program, &QTcpSocket::disconnected, program, &QObject::deleteLater);
            program->disconnectFromHost();
            continue;
        }
        auto *link = new ProgramLink(program, *m_route, *this);
        link->setParent(this);
        m_links.append(link);
        connect(link, &QObject::destroyed, this, [this, link] { m_links.removeOne(link); });
    }
}
