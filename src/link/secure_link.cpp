#include "app/dialogs.h"
#include "app/rmt_q9.h"
#include "link/event_wait.h"
#include "link/relay_pins.h"
#include "link/server_address.h"
#include "ui_rmt_q9.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSysInfo>

// A secure link is TLS with a key pair of the panel's own, made on first use
// beside the settings; the relay knows the panel by its fingerprint, and
// the panel knows the relay by the fingerprint the operator pinned on the
// first link to it.
namespace {
const QString PanelKeyFile = QStringLiteral("q9remote-key.pem");
const QString RelayPinsFile = QStringLiteral("q9remote-relays");
} // namespace

void Rmt_Q9::wireSecureLink()
{
    connect(ui->panel_key, &QAction::triggered, this, &Rmt_Q9::panel_key_Click);
}

// Shown to be read out, or copied, to the station's operator.
void Rmt_Q9::panel_key_Click()
{
    const Identity *key = panelKey();
    if (!key)
        return;
    QGuiApplication::clipboard()->setText(key->fingerprint());
    m_dialogs.message(
        this,
        QStringLiteral("This panel's key (copied to the clipboard):\r\n\r\n%1\r\n\r\nThe station's "
                       "operator adds it to the relay's operators, and the panel can then link "
                       "to the relay at a \"tls:\" address.")
            .arg(key->fingerprint()),
        Dialogs::Icon::None);
}

const Identity *Rmt_Q9::panelKey()
{
    if (!m_panelKey) {
        QString problem;
        m_panelKey = Identity::loadOrCreate(
            PanelKeyFile, QStringLiteral("q9remote@") + QSysInfo::machineHostName(), &problem);
        if (!m_panelKey)
            m_dialogs.message(this, QStringLiteral("The panel has no key for a secure link: ") + problem,
                              Dialogs::Icon::Warning);
    }
    return m_panelKey ? &*m_panelKey : nullptr;
}

// The panel's key for a secure address; nothing for a plain one.
QSslConfiguration Rmt_Q9::tlsFor(const ServerAddress &server)
{
    return server.secure && m_panelKey ? m_panelKey->tlsConfiguration() : QSslConfiguration();
}

// Holds the relay's key to the one pinned for its host and port. A first
// key is shown for the operator to compare with the station's and trust;
// another key than the pinned one is refused. Either way nothing has been
// sent. A link that ends before its key is seen is not refused here: it
// fails as a plain link does.
bool Rmt_Q9::relayKeyRefused(const ServerAddress &server)
{
    waitUntil([this] { return !tcpClient.peerKey().isEmpty() || tcpClient.isClosed() || m_stopping; },
              g.ReplyTimeout);
    const QString presented = tcpClient.peerKey();
    if (presented.isEmpty())
        return false;
    RelayPins pins(RelayPinsFile);
    const QString pinned = pins.keyOf(server.hostPort());
    if (pinned.isEmpty() && !trustFirstKey(pins, server.hostPort(), presented))
        return true;
    if (!pinned.isEmpty() && pinned != presented) {
        warnOfChangedKey(server.hostPort(), pinned, presented);
        return true;
    }
    tcpClient.acceptPeer();
    return false;
}

bool Rmt_Q9::trustFirstKey(RelayPins &pins, const QString &hostPort, const QString &key)
{
    if (!m_dialogs.question(
            this,
            QStringLiteral(
                "First link to the relay at %1. Its key is\r\n\r\n%2\r\n\r\nCompare it with "
                "what \"q9relay --fingerprint\" prints on the station. Trust this key from now on?")
                .arg(hostPort, key))) {
        m_dialogs.message(
            this, QStringLiteral("Not linked to %1: its key is not trusted. Nothing was sent.").arg(hostPort),
            Dialogs::Icon::None);
        return false;
    }
    if (!pins.pin(hostPort, key))
        m_dialogs.message(
            this, QStringLiteral("The relay's key is trusted for this link only: ") + pins.errorString(),
            Dialogs::Icon::Warning);
    return true;
}

// Someone may stand between the panel and the station, or the station's
// key was made anew: only the operator can tell, by asking the station.
void Rmt_Q9::warnOfChangedKey(const QString &hostPort, const QString &pinned, const QString &presented)
{
    m_dialogs.message(
        this,
        QStringLiteral(
            "The relay at %1 presented another key than the one pinned for it. The link is closed "
            "and nothing was sent.\r\n\r\nPinned: %2\r\nPresented: %3\r\n\r\nIf the station's key "
            "was made anew (\"q9relay --fingerprint\" there shows it), remove the line of %1 from %4 "
            "and link again to pin the new key. Otherwise someone may stand between the panel and the "
            "station.")
            .arg(hostPort, pinned, presented, QFileInfo(RelayPinsFile).absoluteFilePath()),
        Dialogs::Icon::Warning);
}
