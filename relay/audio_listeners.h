#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class Connection;

// The clients on the relay's audio port over TCP: each hears the stream,
// framed, from the next whole packet on, and sends nothing that matters. Audio is only worth
// hearing now, so one that leaves more than MaxBacklog unread (about five
// seconds of the stream) is cut off rather than kept waiting on.
class AudioListeners : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MaxBacklog = 16 * 1024;

    using QObject::QObject;

    // Takes the connection.
    void add(Connection *connection);
    int count() const { return int(m_connections.size()); }
    void closeAll(const QString &why);
    void dropIf(const std::function<bool(const Connection &)> &condition, const QString &why);

public slots:
    void send(const QByteArray &rtp);

signals:
    void message(const QString &text);

private:
    void drop(Connection *connection, const QString &why);

    QList<Connection *> m_connections;
};
