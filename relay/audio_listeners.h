#pragma once

#include "audio_packets.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <QHash>

#include <functional>
#include <optional>

class Connection;

// The clients on the relay's audio port over TCP: each hears the stream,
// framed, from the next whole packet on. Audio is only worth hearing now,
// so one that leaves more than MaxBacklog unread (about five seconds of the
// stream) is cut off rather than kept waiting on. A panel that transmits
// sends its operator's audio back, framed, after a report signed with its
// pass (see UdpAudio); anything else a client sends is read and let go.
class AudioListeners : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MaxBacklog = 16 * 1024;

    // `vouch` names the pass a report is signed with.
    using Voucher = std::function<std::optional<QByteArray>(const QByteArray &report)>;

    explicit AudioListeners(Voucher vouch, QObject *parent = nullptr);

    // Takes the connection.
    void add(Connection *connection);
    int count() const { return int(m_connections.size()); }
    void closeAll(const QString &why);
    void dropIf(const std::function<bool(const Connection &)> &condition, const QString &why);

public slots:
    void send(const QByteArray &rtp);

signals:
    void message(const QString &text);
    // A packet of the operator's from the panel with pass `id`.
    void spoken(const QByteArray &id, const QByteArray &packet, const QByteArray &srtpKey);

private:
    // What a client has sent, and whose it said it is.
    struct Speaker
    {
        AudioPackets::Deframer deframer;
        std::optional<QByteArray> id;
    };

    void hear(Connection *connection);
    void drop(Connection *connection, const QString &why);

    Voucher m_vouch;
    QList<Connection *> m_connections;
    QHash<Connection *, Speaker> m_speakers;
};
