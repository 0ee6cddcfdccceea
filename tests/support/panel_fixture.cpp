#include "panel_fixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTest>

PanelFixture::PanelFixture()
    : m_previousDir(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
}

PanelFixture::~PanelFixture()
{
    m_panel.reset();
    QDir::setCurrent(m_previousDir);
}

void PanelFixture::writeSettings(const QByteArray &record)
{
    QFile file(path(QStringLiteral("d9iduzid.ini")));
    if (file.open(QIODevice::WriteOnly))
        file.write(record);
}

QByteArray PanelFixture::readSettings() const
{
    QFile file(path(QStringLiteral("d9iduzid.ini")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void PanelFixture::linkPort(int portNumber, const QString &device)
{
    const QString link = path(QStringLiteral("com%1").arg(portNumber));
    QFile::remove(link);
    QFile::link(device, link);
}

Rmt_Q9 &PanelFixture::start()
{
    m_panel = std::make_unique<Rmt_Q9>(dialogs);
    return *m_panel;
}

void PanelFixture::connectSerial(PtyPair &radio)
{
    radio.onReceive = [&radio](const QByteArray &chunk) {
        if (chunk.contains("q9;"))
            radio.write("Q91;");
    };
    linkPort(1, radio.slavePath());
    control<QAction>("Setcomm1")->trigger();
    QTRY_VERIFY(radio.received.endsWith("AI2;"));
    radio.onReceive = nullptr;
    radio.received.clear();
}
