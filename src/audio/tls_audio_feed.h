#pragma once

#include <QObject>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

// The relay's audio stream from a secure endpoint: TLS with the panel's
// key, taken only from a relay that shows the key the panel's link was
// accepted with, and handed on as it comes. It lives on the thread that
// plays it.
class TlsAudioFeed : public QObject
{
    Q_OBJECT

public:
    // `silenceSeconds` unanswered or silent and the feed gives up.
    explicit TlsAudioFeed(int silenceSeconds, QObject *parent = nullptr);

    // `relayKey` is the fingerprint the relay must present.
    void open(const QString &host, quint16 port, const QSslConfiguration &tls, const QString &relayKey);

signals:
    // The relay showed the expected key: bytes follow.
    void opened();
    void received(const QByteArray &bytes);
    // It never opened: why, in the operator's words.
    void failed(const QString &why);
    // Closed or silent once opened.
    void ended();

private:
    void judgeKey();
    void takeBytes();
    void onError();
    void giveUp(const QString &why);

    QSslSocket m_socket{this};
    QTimer m_silence{this};
    QString m_relayKey;
    bool m_opened = false;
    bool m_over = false;
};
