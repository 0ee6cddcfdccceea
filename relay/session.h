#pragma once

#include "framer.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>

class Connection;
class Operators;
class PseudoTerminal;
class RadioQueue;

// One client of the relay: what it sends, cut into whole commands for the
// radio's queue, and what the radio says for it. A panel (the panel's
// protocol) signs off with "##" where a command could begin; a CAT program
// speaks nothing but the radio's text.
//
// A gentle end (a sign-off, a close) leaves what it sent whole to go to the
// radio, and the client hears the answers while it is there; only a command
// it left unfinished is dropped. A client cut off (not reading, vanished)
// has its queue dropped too.
class Session : public QObject
{
    Q_OBJECT

public:
    enum class Protocol { Panel, Cat };

    Session(RadioQueue &queue, Protocol protocol, const QString &name, QObject *parent = nullptr);

    Protocol protocol() const { return m_protocol; }
    const QString &name() const { return m_name; }
    bool hasLeft() const { return m_left; }

    // The operator it is, by the key of its secure link: looked up each
    // time, so that a change of role takes effect at once, and a key taken
    // off the list is let through for nothing. The operator's name joins
    // the session's.
    void identify(const Operators &operators, const QString &fingerprint);
    const QString &fingerprint() const { return m_fingerprint; }
    // Whether its role lets the command through: any command, unless it is
    // an operator's.
    bool permits(QByteArrayView command) const;
    // Its role, for the log.
    QString roleName() const;

    // The radio's text for this client alone, or for everyone who asks.
    virtual void deliver(const QByteArray &text) = 0;
    // The relay's own word to a panel ("!!Q9 relay TEXT;"), between the
    // radio's replies; a CAT program, whose protocol has no room for it,
    // hears nothing.
    void notice(const QString &text);
    // Reads what the client sent, as far as its queue has room.
    virtual void readOn() = 0;
    // Everything it sent has been dealt with since it left.
    virtual void done() = 0;
    // Ends it at once; `why` goes into the log after the client's name.
    virtual void cutOff(const QString &why) = 0;

signals:
    void message(const QString &text);
    // It is over and may be deleted.
    void ended();

protected:
    void take(QByteArrayView data);
    // Leaves gently; `what` goes into the log after the client's name.
    void leave(const QString &what);
    void dropFromQueue(const QString &why);

    RadioQueue &m_queue;

private:
    Protocol m_protocol;
    QString m_name;
    Framer m_framer;
    bool m_left = false;
    const Operators *m_operators = nullptr;
    QString m_fingerprint;
};

// A client over TCP: a panel on the panel's port, or a CAT program. A
// client that closes only its sending side (a half-close) hears the answers
// to what it sent before the relay closes the connection.
class SocketSession : public Session
{
public:
    static constexpr qsizetype MaxBacklog = 64 * 1024;
    // The kernel's send buffer and what is read at a time: small beside the
    // backlog, so that neither hides a client that does not read or floods.
    static constexpr int SendBuffer = 8 * 1024;
    static constexpr qint64 ReadBuffer = 4 * 1024;
    // How long a connection that has been answered waits for its client to
    // close too.
    static constexpr std::chrono::milliseconds Linger{2000};

    // Takes the connection.
    SocketSession(RadioQueue &queue, Connection *connection, Protocol protocol, QObject *parent = nullptr);

    void deliver(const QByteArray &text) override;
    void readOn() override;
    void done() override;
    void cutOff(const QString &why) override;
    // Whether it still takes a client's place: not once it has hung up.
    bool holdsPlace() const;

private:
    Connection *m_connection;
    bool m_done = false;
};

// One program on a pseudo-terminal that programs open as a serial port: from
// its opening the line to its closing it, as the terminal tells them.
class TerminalSession : public Session
{
public:
    TerminalSession(RadioQueue &queue, PseudoTerminal &terminal, const QString &name,
                    QObject *parent = nullptr);

    void deliver(const QByteArray &text) override;
    void readOn() override;
    void done() override;
    void cutOff(const QString &why) override;
    void received(const QByteArray &data);
    // The program closed the terminal.
    void closed();

private:
    PseudoTerminal &m_terminal;
};
