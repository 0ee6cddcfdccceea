#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <memory>

// The radio's end of a serial link in a test: a pseudo-terminal whose
// master side the test holds; the panel opens the slave device.
class PtyPair : public QObject
{
    Q_OBJECT

public:
    PtyPair();
    ~PtyPair() override;

    QString slavePath() const { return m_slavePath; }
    void write(const QByteArray &bytes);
    // Closes the master side: the panel's port sees the device vanish.
    void hangUp();

    // Everything the panel has sent so far.
    QByteArray received;
    // Called with each chunk as it arrives, to answer like a radio.
    std::function<void(const QByteArray &)> onReceive;

private:
    void readMaster();

    int m_master = -1;
    int m_slaveKeeper = -1;
    QString m_slavePath;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
