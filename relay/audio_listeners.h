#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

// The clients on the relay's audio port: each hears the stream from the
// next whole packet on, and sends nothing that matters. Audio is only worth
// hearing now, so one that leaves more than MaxBacklog unread (about five
// seconds of the stream) is cut off rather than kept waiting on.
class AudioListeners : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MaxBacklog = 16 * 1024;

    using QObject::QObject;
    ~AudioListeners() override;

    // Takes the socket, named by its "name" property in the log.
    void add(QTcpSocket *socket);
    int count() const;
    void closeAll(const QString &why);

public slots:
    void send(const QByteArray &packet);

signals:
    void message(const QString &text);

private:
    void drop(QTcpSocket *socket, const QString &why);

    QList<QPointer<QTcpSocket>> m_sockets;
};
