#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class Connection;
class SecureConnection;

// The secure clients still shaking hands. Each has Time to finish. No more
// than MaxWaiting wait for their hello (a descriptor each) and no more than
// MaxShaking are in the handshake proper (TLS state each); beyond that, a
// newer one pushes the oldest of its stage out. So clients that never
// finish, a flood of them, slow or silent, cannot keep an operator out:
// the operator's handshake takes milliseconds, and waiting hellos are so
// many that a flood must open hundreds of connections in that time to push
// it out. What is given up is logged, a flood in one line a while, not a
// line each.
class Handshakes : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds Time{5};
    static constexpr qsizetype MaxWaiting = 256;
    static constexpr qsizetype MaxShaking = 32;
    static constexpr std::chrono::seconds ReportInterval{10};

    explicit Handshakes(QObject *parent = nullptr);

    // Hands the connection to `verified` once its handshake is done, or lets
    // it go.
    void start(SecureConnection *connection, std::function<void(Connection *)> verified);
    qsizetype pending() const { return m_pending.size(); }
    // Of those pending, in the handshake proper.
    qsizetype shaking() const;

signals:
    void message(const QString &text);

private:
    void giveUp(SecureConnection *connection, const QString &why);
    // Makes room for one more in the stage: with or without its hello.
    void makeRoom(bool withHello);
    void report();

    // Oldest first.
    QList<SecureConnection *> m_pending;
    QTimer m_reportTimer;
    int m_unreported = 0;
    QString m_lastGivenUp;
};
