#pragma once

#include "identity.h"

#include <QByteArray>
#include <QStringList>
#include <QTcpServer>

// A relay's secure port in the test's hands, in front of a plain relay at
// `relayEndpoint`: it takes panels over TLS with a key of its own, closes
// at once and without a word on those whose key is not among `operators`
// (when any are named), and passes the rest both ways, ending either side
// when the other ends. It keeps the keys the panels presented and what
// they sent.
class TlsFront : public QTcpServer
{
    Q_OBJECT

public:
    TlsFront(const QString &keyPath, const QString &relayEndpoint);

    // Bytes for every linked panel, as though the relay had sent them.
    void sendToPanels(const QByteArray &bytes);

    Identity identity;
    QStringList operators;
    QStringList panelKeys;
    QByteArray heard;
    // Panels whose connection is still open.
    int panelsLinked = 0;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QString m_relayEndpoint;
};
