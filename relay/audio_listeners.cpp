#include "audio_listeners.h"

#include "audio_packets.h"
#include "connection.h"

namespace {

constexpr qint64 ReadChunk = 4096;

} // namespace

AudioListeners::AudioListeners(Voucher vouch, QObject *parent)
    : QObject(parent)
    , m_vouch(std::move(vouch))
{ }

void AudioListeners::add(Connection *connection)
{
    connection->setParent(this);
    m_connections.append(connection);
    m_speakers.insert(connection, {});
    connect(connection, &Connection::readyRead, this, [this, connection] { hear(connection); });
    connect(connection, &Connection::reset, this,
            [this, connection] { drop(connection, QStringLiteral("left")); });
    connect(connection, &Connection::lost, this, [this, connection](const QString &why) {
        drop(connection, QStringLiteral("lost: %1").arg(why));
    });
}

void AudioListeners::closeAll(const QString &why)
{
    dropIf([](const Connection &) { return true; }, why);
}

void AudioListeners::dropIf(const std::function<bool(const Connection &)> &condition, const QString &why)
{
    for (Connection *connection : QList(m_connections)) {
        if (condition(*connection))
            drop(connection, why);
    }
}

void AudioListeners::send(const QByteArray &rtp)
{
    const QByteArray framed = AudioPackets::framed(rtp);
    for (Connection *connection : QList(m_connections)) {
        if (connection->unsent() + framed.size() > MaxBacklog)
            drop(connection, QStringLiteral("cut off: it does not keep up with the stream"));
        else
            connection->write(framed);
    }
}

// A signed report says whose the frames after it are; a client that has
// not said sends nothing on.
void AudioListeners::hear(Connection *connection)
{
    Speaker &speaker = m_speakers[connection];
    for (const QByteArray &frame : speaker.deframer.feed(connection->read(ReadChunk))) {
        if (speaker.id)
            emit spoken(*speaker.id, frame, {});
        else
            speaker.id = m_vouch(frame);
    }
    if (connection->atEnd())
        drop(connection, QStringLiteral("left"));
}

void AudioListeners::drop(Connection *connection, const QString &why)
{
    if (!m_connections.removeOne(connection))
        return;
    m_speakers.remove(connection);
    emit message(QStringLiteral("audio client %1 %2").arg(connection->name(), why));
    connection->disconnect(this);
    connection->abort();
    connection->deleteLater();
}
