#pragma once

#include "app/rmt_q9.h"
#include "pty_pair.h"
#include "recording_dialogs.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A panel in a fresh working directory of its own, where the settings file
// and the "comN" port links live, with recording boxes.
class PanelFixture
{
public:
    PanelFixture();
    ~PanelFixture();

    // Writes the settings file before the panel starts; call before start().
    void writeSettings(const QByteArray &record);
    QByteArray readSettings() const;
    // Makes "comN" in the working directory a link to a device.
    void linkPort(int portNumber, const QString &device);
    // Builds the window, which runs its start-up.
    Rmt_Q9 &start();
    // Opens Comm1 on the radio's end of a pseudo-terminal, answering the
    // probe as a radio would, and waits until the link is up. Afterwards
    // `radio.received` is empty and `radio.onReceive` unset.
    void connectSerial(PtyPair &radio);

    Rmt_Q9 &panel() const { return *m_panel; }
    const Q9_globals &globals() const { return m_panel->globals(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    template<typename T>
    T *control(const char *name) const
    {
        return m_panel->findChild<T *>(QString::fromLatin1(name));
    }

    RecordingDialogs dialogs;

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
    std::unique_ptr<Rmt_Q9> m_panel;
};
