#pragma once

#include "radio_line.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>

// The radio's serial port at 4800 8N1, no flow control. What waits to leave
// counts the kernel's share and what the line itself still has to carry. A
// port that fails
// (typically a USB adapter pulled out) is closed at once and tried again
// every second until it comes back; so is one that is not there yet at
// start. Bytes sent while it is away are lost, as they would be on the wire.
class SerialLink : public RadioLine
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds RetryInterval{1000};
    // A device appearing is given this many tries to become usable (its
    // permissions are set just after it appears).
    static constexpr int SettleTries = 3;
    // At 4800 baud a last command or two leaves well within this.
    static constexpr std::chrono::milliseconds FlushTimeout{500};

    explicit SerialLink(const QString &portName, QObject *parent = nullptr);

    // Opens the port, or waits for a device that is not there yet. False
    // when the device is there but cannot be opened: not a serial port, no
    // permission, held by another program (whom errorString() names).
    bool start();
    QString errorString() const;

    void send(const QByteArray &commands) override;
    qint64 backlog() const override;
    std::chrono::milliseconds drainTime() const override;
    void flush() override;
    bool setControlLine(ControlLine line, bool on) override;
    // How a control line is set: on the port, unless a pseudo-terminal,
    // which has none, is given a stand-in.
    using ControlLines = std::function<bool(ControlLine, bool)>;
    void setControlLines(ControlLines lines);

signals:
    // The device awaited at start appeared but would not open.
    void failed(const QString &why);
    void message(const QString &text);

private:
    bool open();
    void readPort();
    void checkDrained();
    void handleError(QSerialPort::SerialPortError error);
    void retry();

    bool applyControlLines();

    QString m_name;
    QSerialPort m_port;
    // The control lines as the relay wants them; the port raises both as
    // it opens.
    std::map<ControlLine, bool> m_controlLines;
    ControlLines m_setControlLine;
    QTimer m_retryTimer;
    QTimer m_drainTimer;
    // When the last byte handed over leaves, at the line's own pace: a
    // pseudo-terminal, and the FIFO of many USB adapters, tell the kernel
    // nothing of what waits in them.
    QElapsedTimer m_clock;
    qint64 m_lineFreeAt = 0;
    bool m_openedBefore = false;
    int m_unusableTries = 0;
};
