#include "recording_relay.h"

#include <QTcpSocket>

RecordingRelay::RecordingRelay(const QString &address, bool greets)
{
    m_server.listen(QHostAddress(address), 2300);
    connect(&m_server, &QTcpServer::newConnection, this, [this, greets] {
        client = m_server.nextPendingConnection();
        if (greets)
            client->write("!!relay;");
        connect(client, &QTcpSocket::readyRead, this, [this] {
            const QByteArray chunk = client->readAll();
            received += chunk;
            if (chunk.contains("id;"))
                client->write("ID900;");
            if (chunk.contains("q9;"))
                client->write("Q91;");
        });
    });
}

bool RecordingRelay::closedByPanel() const
{
    return client && client->state() == QAbstractSocket::UnconnectedState;
}

void RecordingRelay::close()
{
    m_server.close();
    if (client)
        client->abort();
}
