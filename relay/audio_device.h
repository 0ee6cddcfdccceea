#pragma once

#include <QString>
#include <QStringView>

// The radio's audio devices as the relay's options name them: "alsa:DEVICE"
// for an ALSA device (no sound server needed), "default" for the sound
// server's own, or a PipeWire/PulseAudio source or sink by its name.
namespace AudioDevice {

inline constexpr QStringView AlsaPrefix = u"alsa:";

enum class Way { Capture, Playback };

// The GStreamer element that opens it; `serverProperties` go to a sound
// server's element only.
QString element(const QString &name, Way way, const QString &serverProperties = {});

} // namespace AudioDevice
