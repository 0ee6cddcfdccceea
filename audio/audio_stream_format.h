#pragma once

// The receiver's audio as the relay sends it and the panel plays it: mono
// Opus in 20 ms frames at about 24 kbit/s, in RTP with payload type 96 and
// a 48 kHz clock, each packet preceded by its length in two bytes (RTP
// over TCP, RFC 4571), so it passes an SSH tunnel like the radio's text.
namespace AudioStreamFormat {

inline constexpr int SampleRate = 48000;
inline constexpr int FrameMilliseconds = 20;
inline constexpr int SamplesPerFrame = SampleRate * FrameMilliseconds / 1000;
inline constexpr int Bitrate = 24000;
inline constexpr int PayloadType = 96;

// Raw audio on its way into the encoder, then the encoder and framing.
inline constexpr char Encoder[] = "audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=1 "
                                  "! opusenc bitrate=24000 frame-size=20 bitrate-type=cbr audio-type=generic "
                                  "! rtpopuspay pt=96 ! rtpstreampay";

// What the panel is told it receives on the TCP connection.
inline constexpr char StreamCaps[]
    = "application/x-rtp-stream,media=audio,clock-rate=48000,encoding-name=OPUS,payload=96";

} // namespace AudioStreamFormat
