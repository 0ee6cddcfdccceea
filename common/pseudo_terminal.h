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
//
// With watchPrograms(), it also tells when a program opens the line and when
// the last one holding it closes it, from the kernel's own notice of every
// open, write and close (inotify), and which program wrote what it reads.
// What a program leaves unread when it closes the line is dropped, so the
// next one hears nothing meant for it. Text from two programs that could not
// be read apart (one wrote and closed, the next opened and wrote, before
// this object looked) is no one's: it is dropped.
class PseudoTerminal : public QObject
{
    Q_OBJECT

public:
    // Bytes nobody reads are dropped, oldest first, beyond this.
    static constexpr qsizetype MaxPendingWrite = 64 * 1024;

    explicit PseudoTerminal(QObject *parent = nullptr);
    ~PseudoTerminal() override;

    bool open();
    bool watchPrograms();
    // Lets the members of a group open the line too (the serial-port users'
    // group, for the shack's programs run by other users); false, with
    // errorString() set and the line still open, when it cannot.
    bool shareWithGroup(const QString &group);

    // Points linkPath at the slave device, replacing a stale symlink but
    // never another kind of file, nor a link to a line that is open (a
    // terminal another program serves). The link goes with the terminal
    // unless someone has re-pointed it meanwhile.
    bool createLink(const QString &linkPath);
    QString linkPath() const;

    QString slavePath() const;
    QString errorString() const;

    // Back-pressure: while off, what programs write waits in the kernel (and
    // they are made to wait), but for a program's last words when it closes.
    void setReading(bool reading);

public slots:
    void write(const QByteArray &data);

signals:
    void received(const QByteArray &data);
    void programOpened();
    void programClosed();
    // Text dropped because it cannot be told whose it is.
    void dropped(qsizetype bytes);
    void errorOccurred(const QString &message);

private:
    void close();
    bool isOpen() const;
    bool fail(const QString &what);
    bool openSlave();
    void readMaster();
    QByteArray readAvailable();
    enum class Event { Opened, Wrote, Closed, Lost };
    QList<Event> readEvents();
    void attribute(const QByteArray &data, const QList<Event> &events);
    void forgetProgram();
    void flush();
    void stopOnError(const QString &what);
    void removeLink();

    int m_master = -1;
    int m_slave = -1;
    int m_watch = -1;
    int m_holders = 0;
    bool m_reading = true;
    QString m_slavePath;
    QString m_linkPath;
    QString m_errorString;
    QByteArray m_pending;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QSocketNotifier *m_watchNotifier = nullptr;
};
