#include "radio_link.h"

#include <QIODevice>

void RadioLink::carry(QIODevice &device)
{
    m_device = &device;
    connect(&device, &QIODevice::readyRead, this, &RadioLink::pushReceived);
    connect(&device, &QIODevice::bytesWritten, this, &RadioLink::onBytesWritten);
}

bool RadioLink::send(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    if (bytes.isEmpty()) {
        // Nothing to hand over: the send is complete, reported like any other.
        QMetaObject::invokeMethod(this, &RadioLink::sendComplete, Qt::QueuedConnection);
        return true;
    }
    return m_device->write(bytes) == bytes.size();
}

// Qt raises readyRead only for newly arrived data, not for what is still
// buffered, so the rest is handed on from the event loop.
void RadioLink::pushReceived()
{
    const QByteArray chunk = m_device->read(ChunkBytes);
    if (m_device->bytesAvailable() > 0 && !m_restQueued) {
        m_restQueued = true;
        QMetaObject::invokeMethod(this, &RadioLink::pushRest, Qt::QueuedConnection);
    }
    handOn(chunk);
}

void RadioLink::handOn(const QByteArray &chunk)
{
    emit received(chunk);
}

void RadioLink::pushRest()
{
    m_restQueued = false;
    if (m_device->bytesAvailable() > 0)
        pushReceived();
}

void RadioLink::onBytesWritten()
{
    if (m_device->bytesToWrite() == 0)
        emit sendComplete();
}
