#include "handshakes.h"

#include "secure_connection.h"

#include <QPointer>

#include <algorithm>

Handshakes::Handshakes(QObject *parent)
    : QObject(parent)
{
    m_reportTimer.setSingleShot(true);
    m_reportTimer.setInterval(ReportInterval);
    connect(&m_reportTimer, &QTimer::timeout, this, &Handshakes::report);
}

void Handshakes::start(SecureConnection *connection, std::function<void(Connection *)> verified)
{
    makeRoom(false);
    m_pending.append(connection);
    connect(connection, &SecureConnection::helloReceived, this, [this, connection] {
        // It counts among the shaking only once there is room.
        m_pending.removeOne(connection);
        makeRoom(true);
        m_pending.append(connection);
    });
    connect(connection, &SecureConnection::verified, this, [this, connection, verified] {
        m_pending.removeOne(connection);
        disconnect(connection, nullptr, this, nullptr);
        verified(connection);
    });
    connect(connection, &Connection::lost, this,
            [this, connection](const QString &why) { giveUp(connection, why); });
    QTimer::singleShot(Time, this, [this, connection = QPointer<SecureConnection>(connection)] {
        if (connection && m_pending.contains(connection.get()))
            giveUp(connection, QStringLiteral("not done within %1 s").arg(Time.count()));
    });
}

qsizetype Handshakes::shaking() const
{
    return std::count_if(m_pending.begin(), m_pending.end(),
                         [](const SecureConnection *connection) { return connection->hasHello(); });
}

void Handshakes::makeRoom(bool withHello)
{
    const qsizetype most = withHello ? MaxShaking : MaxWaiting;
    if ((withHello ? shaking() : m_pending.size() - shaking()) < most)
        return;
    const auto oldest
        = std::find_if(m_pending.begin(), m_pending.end(), [withHello](const SecureConnection *connection) {
              return connection->hasHello() == withHello;
          });
    giveUp(*oldest, QStringLiteral("pushed out by newer handshakes"));
}

void Handshakes::giveUp(SecureConnection *connection, const QString &why)
{
    if (!m_pending.removeOne(connection))
        return;
    disconnect(connection, nullptr, this, nullptr);
    connect(connection, &Connection::closed, connection, &QObject::deleteLater);
    connection->abort();
    m_lastGivenUp = QStringLiteral("client %1: %2").arg(connection->name(), why);
    ++m_unreported;
    if (!m_reportTimer.isActive())
        report();
}

void Handshakes::report()
{
    if (m_unreported == 0)
        return;
    emit message(m_unreported == 1 ? QStringLiteral("handshake given up, %1").arg(m_lastGivenUp)
                                   : QStringLiteral("%1 handshakes given up in %2 s, the last %3")
                                         .arg(m_unreported)
                                         .arg(ReportInterval.count())
                                         .arg(m_lastGivenUp));
    m_unreported = 0;
    m_reportTimer.start();
}
