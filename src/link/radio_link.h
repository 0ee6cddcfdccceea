#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QIODevice;

// What the window needs of a link to the radio, the serial port and the
// relay server's socket alike: it takes bytes to send, hands on what it
// receives as it comes, tells when all it was given has left, and tells
// when it fails under the panel.
class RadioLink : public QObject
{
    Q_OBJECT

public:
    // The most handed on at one time: a flood is taken a chunk at a time,
    // with timers and clicks served in between.
    static constexpr qint64 ChunkBytes = 4 * 1024;

    // Queues the bytes; false at once when the link is not open or does not
    // take them all.
    virtual bool send(const QByteArray &bytes);
    // Open for sending: the port open, the socket connected.
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

signals:
    void received(const QByteArray &bytes);
    void sendComplete();
    // The device went away or the connection was refused or broken;
    // `description` tells why.
    void failed(const QString &description);

protected:
    using QObject::QObject;
    // The device the link carries its bytes on; called once, by the link's
    // constructor.
    void carry(QIODevice &device);
    // Each chunk read from the device passes here on its way out.
    virtual void handOn(const QByteArray &chunk);

private:
    void pushReceived();
    void pushRest();
    void onBytesWritten();

    QIODevice *m_device = nullptr;
    bool m_restQueued = false;
};
