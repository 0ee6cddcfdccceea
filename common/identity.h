#pragma once

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>

#include <optional>

// A program's own key pair, which is what the other end of a secure link
// knows it by: no certificate authority stands behind it, each end pins the
// other's fingerprint. The certificate only carries the public key to the
// other end, as TLS asks.
struct Identity
{
    QSslKey key;
    QSslCertificate certificate;

    // The key pair kept in `path` (the private key and its certificate,
    // PEM), made there on first use, readable by its owner alone. `name`
    // goes into a new certificate. Empty, with the reason, when it can be
    // neither read nor made.
    static std::optional<Identity> loadOrCreate(const QString &path, const QString &name, QString *problem);

    QString fingerprint() const { return fingerprintOf(certificate); }
    // "SHA256:" and the SHA-256 digest of the public key, in base64 without
    // padding: what operators compare and pin. Empty for a null certificate.
    static QString fingerprintOf(const QSslCertificate &certificate);
    // Whether text is written as a fingerprint.
    static bool isFingerprint(QStringView text);

    // TLS 1.3 with this key, asking the other end for its own. The other
    // end's key is checked against a pin by the caller, not by a chain.
    QSslConfiguration tlsConfiguration() const;
};
