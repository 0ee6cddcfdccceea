#include "stand_ins.h"

namespace {
constexpr int ReleaseCheckMilliseconds = 5;
constexpr int FillerTimeout = 5000;
} // namespace

RelayStandIn::RelayStandIn(SimRadio &radio, const QString &address, const QString &greeting)
    : m_radio(radio)
    , m_greeting(greeting.toLatin1())
{
    connect(&m_listener, &QTcpServer::newConnection, this, &RelayStandIn::welcome);
    connect(&m_radio, &SimRadio::output, this, &RelayStandIn::answer);
    m_releaser.setInterval(ReleaseCheckMilliseconds);
    connect(&m_releaser, &QTimer::timeout, this, &RelayStandIn::releaseHeld);
    m_listener.listen(QHostAddress(address), 2300);
}

void RelayStandIn::welcome()
{
    m_panel = m_listener.nextPendingConnection();
    m_panel->write(m_greeting);
    connect(m_panel, &QTcpSocket::readyRead, m_panel, [this] { m_radio.receive(m_panel->readAll()); });
}

void RelayStandIn::answer(const QByteArray &bytes)
{
    m_held += bytes;
    releaseHeld();
}

void RelayStandIn::releaseHeld()
{
    if (holdAnswers && holdAnswers()) {
        m_releaser.start();
        return;
    }
    m_releaser.stop();
    if (m_panel)
        m_panel->write(m_held);
    m_held.clear();
}

// A backlog of none leaves room for one connection that is never accepted:
// the filler takes it.
DroppingPort::DroppingPort(const QString &address)
{
    m_listener.setListenBacklogSize(0);
    if (!m_listener.listen(QHostAddress(address)))
        return;
    m_listener.pauseAccepting();
    m_filler.connectToHost(QHostAddress(address), m_listener.serverPort());
    m_filler.waitForConnected(FillerTimeout);
}
