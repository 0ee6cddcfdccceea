#pragma once

#include "sim_radio.h"

#include <QByteArrayList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

// A relay in the test's hands on ADDRESS:2300: it greets each panel with
// `greeting`, passes what the panel sends to the radio, and the radio's
// answers back, those while holdAnswers() says so only once it stops saying
// so (checked every few milliseconds while any are held).
class RelayStandIn : public QObject
{
    Q_OBJECT

public:
    RelayStandIn(SimRadio &radio, const QString &address, const QString &greeting);

    bool isListening() const { return m_listener.isListening(); }
    std::function<bool()> holdAnswers;

private:
    void welcome();
    void answer(const QByteArray &bytes);
    void releaseHeld();

    SimRadio &m_radio;
    QByteArray m_greeting;
    QTcpServer m_listener;
    QTcpSocket *m_panel = nullptr;
    QByteArray m_held;
    QTimer m_releaser;
};

// A port on ADDRESS that never answers, as one behind a firewall that drops
// what comes: its listener's backlog is full and nothing is accepted, so the
// kernel drops every attempt to connect and the connecting side waits for
// an answer that never comes.
class DroppingPort
{
public:
    explicit DroppingPort(const QString &address);

    // 0 when the port could not be made.
    quint16 port() const
    {
        return m_filler.state() == QAbstractSocket::ConnectedState ? m_listener.serverPort() : 0;
    }

private:
    QTcpServer m_listener;
    QTcpSocket m_filler;
};
