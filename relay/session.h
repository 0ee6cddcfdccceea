#pragma once

#include "command_framer.h"

#include <QByteArrayList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

class PseudoTerminal;

// One client of the relay, with its own framing of what it sends into whole
// commands, its own queue of them for the radio, its own auto-information
// level and its own bounded output. A panel (the panel's protocol) signs
// off with "##"; a CAT program speaks nothing but the radio's text.
//
// A client whose queue is full is not read until the radio has taken from
// it, so that the network, or the terminal, slows a fast client down.
class Session : public QObject
{
    Q_OBJECT

public:
    enum class Protocol { Panel, Cat };
    static constexpr qsizetype MaxQueued = 32;

    Session(Protocol protocol, const QString &name, QObject *parent = nullptr);

    Protocol protocol() const { return m_protocol; }
    const QString &name() const { return m_name; }

    // The radio's text for this client alone, or for everyone who asks.
    virtual void deliver(const QByteArray &text) = 0;
    // Reads what the client sent, as far as its queue has room.
    void readOn();
    // Ends it; `what` goes into the log after the client's name. A terminal
    // cannot end: its next program starts afresh.
    virtual void end(const QString &what) = 0;

    QByteArrayList queue;
    // The auto-information level the client set ("AIn;"): 0 hears no reports.
    int level = 0;
    // The relay's own query that its rise from level 0 waits for, if any.
    quint64 riseFence = 0;

signals:
    void queued();
    void message(const QString &text);
    void ended();

protected:
    virtual QByteArray readAvailable() = 0;
    // Drops what it left unfinished and says so.
    void forgetUnfinished();

    CommandFramer m_framer;

private:
    Protocol m_protocol;
    QString m_name;
};

// A client over TCP: a panel on the panel's port, or a CAT program.
class SocketSession : public Session
{
public:
    static constexpr qsizetype MaxBacklog = 64 * 1024;
    // The kernel's send buffer and what is read at a time: small beside the
    // backlog, so that neither hides a client that does not read or floods.
    static constexpr int SendBuffer = 8 * 1024;
    static constexpr qint64 ReadBuffer = 4 * 1024;

    SocketSession(QTcpSocket *socket, Protocol protocol, const QString &name, QObject *parent = nullptr);
    ~SocketSession() override;

    void deliver(const QByteArray &text) override;
    void end(const QString &what) override;
    // Whether it hung up, taking what it sent before that first.
    bool hungUp();

protected:
    QByteArray readAvailable() override;

private:
    enum class Parting { Gently, CutOff };
    void finish(const QString &what, Parting parting);
    qint64 unread() const;
    void failed();

    QPointer<QTcpSocket> m_socket;
};

// A CAT program on a pseudo-terminal that it opens as its serial port. The
// terminal does not tell when one program closes it and the next opens it,
// so a command left unfinished for longer than any program pauses inside
// one is dropped: the next program's text cannot complete it.
class TerminalSession : public Session
{
public:
    static constexpr std::chrono::milliseconds StaleCommand{2000};

    TerminalSession(PseudoTerminal &terminal, const QString &name, QObject *parent = nullptr);

    void deliver(const QByteArray &text) override;
    void end(const QString &what) override;

protected:
    QByteArray readAvailable() override;

private:
    PseudoTerminal &m_terminal;
    QTimer m_staleTimer;
};
