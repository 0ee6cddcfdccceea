#pragma once

#include <QByteArray>
#include <QDir>
#include <QObject>
#include <QSerialPort>

// The serial control: one port, chosen by number, at the radio's line
// settings. Port n is the device that a link named "comN" in the working
// directory points to, else /dev/ttyS(n-1).
class SerialControl : public QObject
{
    Q_OBJECT

public:
    explicit SerialControl(QObject *parent = nullptr);

    static QString devicePathFor(int portNumber, const QDir &workingDir = QDir::current());

    // Selects and opens port n; false when there is no such port or another
    // program holds it.
    bool open(int portNumber);
    // 4800 baud, no parity, 8 data bits, 1 stop bit, RTS on, no flow
    // control. Steps a device refuses (a pseudo-terminal has no RTS) are
    // skipped.
    void configure();
    void close();

    // Hands the bytes to the port; false when it is not open or refuses them.
    bool write(const QByteArray &bytes);
    // Everything received so far.
    QByteArray readAll();

signals:
    void readyRead();
    // The open port failed and was closed: the device has gone.
    void lost();

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
};
