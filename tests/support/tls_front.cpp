#include "tls_front.h"

#include "host_port.h"

#include <QSslSocket>

TlsFront::TlsFront(const QString &keyPath, const QString &relayEndpoint)
    : identity(Identity::loadOrCreate(keyPath, QStringLiteral("test relay"), nullptr).value())
    , m_relayEndpoint(relayEndpoint)
{ }

void TlsFront::sendToPanels(const QByteArray &bytes)
{
    for (QSslSocket *panel : findChildren<QSslSocket *>())
        panel->write(bytes);
}

void TlsFront::incomingConnection(qintptr descriptor)
{
    auto *panel = new QSslSocket(this);
    panel->setSocketDescriptor(descriptor);
    panel->setSslConfiguration(identity.tlsConfiguration());
    ++panelsLinked;
    connect(panel, &QSslSocket::disconnected, this, [this, panel] {
        --panelsLinked;
        panel->deleteLater();
    });
    connect(panel, &QSslSocket::encrypted, this, [this, panel] {
        const QString key = Identity::fingerprintOf(panel->peerCertificate());
        panelKeys.append(key);
        if (!operators.isEmpty() && !operators.contains(key))
            return panel->disconnectFromHost();
        auto *relay = new QTcpSocket(panel);
        const HostPort endpoint = splitHostPort(m_relayEndpoint).value();
        relay->connectToHost(endpoint.host, endpoint.port.value());
        connect(relay, &QTcpSocket::readyRead, panel, [panel, relay] { panel->write(relay->readAll()); });
        connect(relay, &QTcpSocket::disconnected, panel, [panel] { panel->disconnectFromHost(); });
        connect(panel, &QSslSocket::readyRead, relay, [this, panel, relay] {
            const QByteArray bytes = panel->readAll();
            heard += bytes;
            relay->write(bytes);
        });
        connect(panel, &QSslSocket::disconnected, relay, [relay] { relay->disconnectFromHost(); });
    });
    panel->startServerEncryption();
}
