#include "srtp_sealer.h"

#include "audio_stream_format.h"

namespace {
constexpr char InputName[] = "rtp";
constexpr char OutputName[] = "srtp";
// Packets on their way to the Qt thread: half a second of them.
constexpr int MaxHandedOn = 50;
} // namespace

SrtpSealer::SrtpSealer(QObject *parent)
    : QObject(parent)
{ }

QString SrtpSealer::element(const QByteArray &key)
{
    return QStringLiteral("srtpenc key=%1 rtp-cipher=%2 rtp-auth=%3")
        .arg(QString::fromLatin1(key.toHex()), QLatin1StringView(AudioStreamFormat::SrtpCipher),
             QLatin1StringView(AudioStreamFormat::SrtpAuth));
}

bool SrtpSealer::start(const QByteArray &key, QString *problem)
{
    const QString description
        = QStringLiteral("appsrc name=%1 is-live=true format=time caps=%2 ! %3 ! appsink name=%4 sync=false "
                         "emit-signals=false")
              .arg(QLatin1StringView(InputName), QLatin1StringView(AudioStreamFormat::RtpCaps), element(key),
                   QLatin1StringView(OutputName));
    if (m_pipeline.start(description, [this] {
            m_pipeline.takeFrom(OutputName, MaxHandedOn,
                                [this](const QByteArray &srtp) { emit sealed(srtp); });
        }))
        return true;
    *problem = m_pipeline.errorString();
    return false;
}

void SrtpSealer::seal(const QByteArray &rtp)
{
    m_pipeline.push(InputName, rtp);
}
