#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <chrono>

// The radio's serial port at 4800 8N1, no flow control. A port that fails
// (typically a USB adapter pulled out) is closed at once and tried again
// every second until it comes back. Bytes sent while it is away are lost,
// as they would be on the wire.
class SerialLink : public QObject
{
    Q_OBJECT

public:
    static constexpr qint32 BaudRate = 4800;
    static constexpr std::chrono::milliseconds RetryInterval{1000};
    // At 480 bytes a second anything beyond this is a client flooding the radio.
    static constexpr qint64 MaxBacklog = 64 * 1024;

    explicit SerialLink(const QString &portName, QObject *parent = nullptr);

    bool open();
    QString errorString() const;

public slots:
    void send(const QByteArray &data);

signals:
    void received(const QByteArray &data);
    void message(const QString &text);

private:
    void readPort();
    void handleError(QSerialPort::SerialPortError error);
    void retry();

    QString m_name;
    QSerialPort m_port;
    QTimer m_retryTimer;
};
