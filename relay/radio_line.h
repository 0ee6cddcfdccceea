#pragma once

#include <QByteArray>
#include <QObject>

#include <chrono>

// The radio's end of the relay: a serial port to a real radio, or the
// simulated radio. The relay hands it whole commands only, and no more
// while it is busy, so that a fast client is slowed down by the network
// instead of having its text dropped.
class RadioLine : public QObject
{
    Q_OBJECT

public:
    // More than this waiting to reach the radio and it takes nothing more
    // until it has drained: at 4800 baud, an eighth of a second.
    static constexpr qint64 BusyBacklog = 64;

    using QObject::QObject;

    virtual void send(const QByteArray &commands) = 0;
    // Bytes handed over that have not reached the radio yet, wherever they
    // wait.
    virtual qint64 backlog() const = 0;
    // How long those take to reach it.
    virtual std::chrono::milliseconds drainTime() const = 0;
    bool isBusy() const { return backlog() > BusyBacklog; }
    // Lets what was sent leave before the program ends.
    virtual void flush() { }

    // The port's control lines, one of which an interface cable may take
    // for the radio's push-to-talk.
    enum class ControlLine { Rts, Dtr };
    // Raises or drops one, and keeps it so whenever the port opens again;
    // false where the port has no such line (a pseudo-terminal has none).
    virtual bool setControlLine(ControlLine, bool) { return false; }

signals:
    // The line to the radio is open again after it was lost or awaited.
    void opened();
    void received(const QByteArray &bytes);
    // It is no longer busy.
    void drained();
    // The radio's port went away; the radio behind it has lost whatever it
    // was told.
    void lost();
};
