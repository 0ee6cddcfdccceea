#include "app/dialogs.h"
#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

#include <QSettings>

// The local CAT port: its menu item, and the choice kept in a file of its
// own beside the settings file, whose record stays as it is. The port rides
// the server link, which the server connection and the release tell it.
// Its boxes are notices: the one at start must not hold the window.
namespace {
const QString ChoiceFile = QStringLiteral("q9cat.ini");
const QString OpenKey = QStringLiteral("Open");
const QString PortKey = QStringLiteral("Port");
} // namespace

void Rmt_Q9::wireLocalCatPort()
{
    connect(ui->cat_port, &QAction::triggered, this, &Rmt_Q9::cat_port_Click);
    connect(&m_catPort, &LocalCatPort::message, this, [this](const QString &line) {
        if (g.DebugOn)
            appendDebugText(line);
    });
    const QSettings choice(ChoiceFile, QSettings::IniFormat);
    if (choice.value(OpenKey, false).toBool())
        ui->cat_port->setChecked(openCatPort(choice.value(PortKey).toString()));
}

// Checking the item asks for the port, proposing the last one, and opens
// it; unchecking closes it.
void Rmt_Q9::cat_port_Click()
{
    QSettings choice(ChoiceFile, QSettings::IniFormat);
    if (ui->cat_port->isChecked()) {
        const QString port = m_dialogs.input(
            this, QStringLiteral("Port for CAT programs on this computer (127.0.0.1 and ::1)"),
            QStringLiteral("Local CAT Port"), choice.value(PortKey, LocalCatPort::DefaultPort).toString());
        ui->cat_port->setChecked(!port.isEmpty() && openCatPort(port));
        if (ui->cat_port->isChecked())
            choice.setValue(PortKey, port.trimmed());
    } else {
        m_catPort.close();
    }
    choice.setValue(OpenKey, ui->cat_port->isChecked());
}

bool Rmt_Q9::openCatPort(const QString &text)
{
    bool number = false;
    const uint port = text.trimmed().toUInt(&number);
    QString problem = QStringLiteral("\"%1\" is no port: give a number from 1 to 65535").arg(text);
    if (number && port > 0 && port <= 65535) {
        if (m_catPort.open(quint16(port)))
            return true;
        problem = m_catPort.errorString();
    }
    m_dialogs.notice(this, QStringLiteral("The local CAT port cannot be opened: ") + problem,
                     Dialogs::Icon::Warning);
    return false;
}
