#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A relay on port 2300 of a loopback address of the test's own that keeps
// the raw bytes the panel sends, sign-off included, and answers the probes
// as a radio would. It greets only when told to.
class RecordingRelay : public QObject
{
public:
    explicit RecordingRelay(const QString &address, bool greets = true);

    bool isListening() const { return m_server.isListening(); }
    // The relay goes away: it stops listening and drops its client.
    void close();
    bool closedByPanel() const;

    QTcpSocket *client = nullptr;
    QByteArray received;

private:
    QTcpServer m_server;
};
