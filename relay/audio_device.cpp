#include "audio_device.h"

#include "media_pipeline.h"

QString AudioDevice::element(const QString &name, Way way, const QString &serverProperties)
{
    const bool capture = way == Way::Capture;
    if (name.startsWith(AlsaPrefix))
        return QStringLiteral("%1 device=%2")
            .arg(capture ? u"alsasrc" : u"alsasink", MediaPipeline::quoted(name.mid(AlsaPrefix.size())));
    QString element = capture ? QStringLiteral("pulsesrc") : QStringLiteral("pulsesink");
    if (!serverProperties.isEmpty())
        element += u' ' + serverProperties;
    if (name != u"default")
        element += QStringLiteral(" device=%1").arg(MediaPipeline::quoted(name));
    return element;
}
