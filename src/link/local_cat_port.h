#pragma once

#include "link/server_address.h"

#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QTcpServer>

#include <optional>

// A CAT port on this computer for programs such as Hamlib's, riding the
// panel's server link: each program that connects gets a relay connection
// of its own, to the relay the panel is linked to, by the same address and
// with the same key, so the relay serves it as it serves the panel. The
// radio's text passes unchanged both ways, but for the relay's greetings,
// which only a panel reads. Other computers reach the relay themselves, so
// the port is on loopback only.
//
// The port stays open while the panel has no server link, and turns the
// programs that come meanwhile away at once: a program that tries again (as
// loggers do) finds the radio as soon as the panel links, and a port that
// another program holds shows when the operator opens it, not at some link
// later on.
class LocalCatPort : public QObject
{
    Q_OBJECT

public:
    // Next to Hamlib's rigctld (4532) and the relay's own CAT port (4533),
    // which an SSH tunnel may bring to this computer too.
    static constexpr quint16 DefaultPort = 4534;

    explicit LocalCatPort(QObject *parent = nullptr);
    ~LocalCatPort() override;

    // Listens on 127.0.0.1, and on ::1 where this computer has IPv6; false,
    // with errorString(), when the port cannot be had. For a closed port.
    bool open(quint16 port);
    // Also ends every program's link.
    void close();
    QString errorString() const { return m_error; }

    // Programs reach this relay from now on: TLS on `tls` for a secure
    // address, where the relay must present `relayKey`.
    void ride(const ServerAddress &server, const QSslConfiguration &tls, const QString &relayKey);
    // The panel's link is over: every program's link is signed off and
    // closed, and programs that come are turned away.
    void leave();

signals:
    // A program turned away or cut off, and why, for the operator's log.
    void message(const QString &line);

private:
    class ProgramLink;
    struct Route
    {
        ServerAddress server;
        QSslConfiguration tls;
        QString relayKey;
    };

    void admit(QTcpServer &listener);
    void endProgramLinks();

    QTcpServer m_ipv4;
    QTcpServer m_ipv6;
    QString m_error;
    std::optional<Route> m_route;
    QList<ProgramLink *> m_links;
};
