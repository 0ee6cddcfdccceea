#pragma once

#include "link/radio_link.h"

#include <QDir>
#include <QSerialPort>

// The serial control: one port, chosen by number, at the radio's line
// settings. Port n is the device that a link named "comN" in the working
// directory points to, else /dev/ttyS(n-1).
class SerialControl : public RadioLink
{
    Q_OBJECT

public:
    explicit SerialControl(QObject *parent = nullptr);

    static QString devicePathFor(int portNumber, const QDir &workingDir = QDir::current());

    // Selects and opens port n; false when there is no such port or another
    // program holds it.
    bool open(int portNumber);
    // The radio's line settings, then RTS on. A step the device refuses (a
    // pseudo-terminal has no RTS) leaves the port as it was, and the error
    // it raised is cleared: the probe goes ahead on what the port took.
    void configure();
    void close() override;
    bool isOpen() const override;

    bool send(const QByteArray &bytes) override;

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
};
