#pragma once

#include <QByteArray>
#include <QStringView>

#include <optional>

// What a panel tells the relay of the audio it receives over UDP: an RTCP
// receiver report, for the encoder to adapt to the loss.
struct Reception
{
    // The panel's own name for this reception, new each time it starts.
    quint32 reporter = 0;
    // The stream reported on.
    quint32 source = 0;
    // Lost since the last report, in 256ths.
    quint8 fractionLost = 0;
    quint32 highestSequence = 0;
    // In the stream's clock (48 kHz).
    quint32 jitter = 0;
};

// The relay's UDP audio goes only to an address that has shown it holds a
// pass, given to one linked panel over its control link. A pass is 30
// random bytes, the SRTP master key and salt where the link is secure; the
// panel's reports name it by its id and are signed with it (HMAC-SHA-256)
// and numbered, so that neither a spoofed address nor a replayed report
// from one gets the audio.
class AudioPass
{
public:
    static constexpr int KeyBytes = 30;
    static constexpr int IdBytes = 8;

    // A new pass from the system's random source.
    static AudioPass make();
    // From the text the greeting carries; nothing from anything else.
    static std::optional<AudioPass> fromText(QStringView text);

    QByteArray text() const;
    QByteArray key() const { return m_key; }
    QByteArray id() const;
    // The SRTP master key and salt for one reception of the audio: each
    // reception starts its packet count afresh, so each has its own key,
    // and no key stream is ever used twice.
    QByteArray srtpKey(quint32 reporter) const;

    // A report on `reception`, the `counter`th of this pass, signed.
    QByteArray report(const Reception &reception, quint64 counter) const;

private:
    explicit AudioPass(const QByteArray &key)
        : m_key(key)
    { }

    QByteArray m_key;
};

// A report as it came, before its pass is known.
struct AudioReport
{
    static std::optional<AudioReport> read(const QByteArray &datagram);

    QByteArray id;
    quint64 counter = 0;
    Reception reception;
    bool isSignedBy(const AudioPass &pass) const;

private:
    QByteArray m_signed;
    QByteArray m_signature;
};
