#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The master side of a raw pseudo-terminal: whatever opens slavePath()
// (or the optional symlink to it) sees a serial line, and this object
// plays the device at the far end of it.
//
// The object keeps a slave descriptor of its own open, so the line stays
// usable while nobody else has it open and reading the master never turns
// into a stream of EIO errors.
class PseudoTerminal : public QObject
{
    Q_OBJECT

public:
    // Bytes nobody reads are dropped, oldest first, beyond this.
    static constexpr qsizetype MaxPendingWrite = 64 * 1024;

    explicit PseudoTerminal(QObject *parent = nullptr);
    ~PseudoTerminal() override;

    bool open();

    // Points linkPath at the slave device, replacing a stale symlink but
    // never another kind of file. The link goes with the terminal unless
    // someone has re-pointed it meanwhile.
    bool createLink(const QString &linkPath);
    QString linkPath() const;

    QString slavePath() const;
    QString errorString() const;

    QByteArray readAll();

public slots:
    void write(const QByteArray &data);

signals:
    void readyRead();
    void errorOccurred(const QString &message);

private:
    void close();
    bool isOpen() const;
    bool fail(const QString &what);
    bool openSlave();
    void readMaster();
    void flush();
    void stopOnError(const QString &what);
    void removeLink();

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_linkPath;
    QString m_errorString;
    QByteArray m_received;
    QByteArray m_pending;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
};
