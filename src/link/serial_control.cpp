#include "serial_control.h"

#include "serial_line.h"

#include <QFileInfo>

SerialControl::SerialControl(QObject *parent)
    : RadioLink(parent)
{
    carry(m_port);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialControl::onError);
}

QString SerialControl::devicePathFor(int portNumber, const QDir &workingDir)
{
    if (portNumber < 1)
        return {};
    const QFileInfo link(workingDir, QStringLiteral("com%1").arg(portNumber));
    // A bare name would mean /dev/<name> to the port, so always hand it an
    // absolute path.
    if (link.isSymLink() || link.exists())
        return link.absoluteFilePath();
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

bool SerialControl::open(int portNumber)
{
    const QString device = devicePathFor(portNumber);
    if (device.isEmpty())
        return false;
    m_port.setPortName(device);
    return m_port.open(QIODevice::ReadWrite);
}

void SerialControl::configure()
{
    setRadioLine(m_port);
    m_port.setRequestToSend(true);
    m_port.clearError();
}

void SerialControl::close()
{
    if (m_port.isOpen())
        m_port.close();
}

bool SerialControl::isOpen() const
{
    return m_port.isOpen();
}

// Started now rather than at the next turn of the event loop, so a command
// sent just before the program ends still leaves. Starting it may find the
// device gone, which closes the port.
bool SerialControl::send(const QByteArray &bytes)
{
    if (!RadioLink::send(bytes))
        return false;
    m_port.flush();
    return m_port.isOpen();
}

// An unplugged adapter reports ResourceError and then a read error on every
// turn of the event loop; the port is closed at the first, so the panel
// stays usable and later sends report the missing port.
void SerialControl::onError(QSerialPort::SerialPortError error)
{
    if (!m_port.isOpen())
        return;
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError
        || error == QSerialPort::WriteError) {
        const QString description = m_port.errorString();
        close();
        emit failed(description);
    }
}
