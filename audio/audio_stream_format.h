#pragma once

// The audio as the relay sends the receiver's and the panel the operator's: mono
// Opus in short frames at about 24 kbit/s with in-band forward error
// correction, in RTP with payload type 96 and a 48 kHz clock (see
// AudioPackets for how the packets travel). The encoder is told the loss
// the listeners report and spends more of its bits on correction the more
// they lose.
namespace AudioStreamFormat {

inline constexpr int SampleRate = 48000;
inline constexpr int FrameMilliseconds = 10;
inline constexpr int SamplesPerFrame = SampleRate * FrameMilliseconds / 1000;
inline constexpr int Bitrate = 24000;
inline constexpr int PayloadType = 96;
// The encoder element, for its expected loss ("packet-loss-percentage").
inline constexpr char EncoderName[] = "encoder";

// Raw audio on its way into the encoder, then the encoder and RTP.
inline constexpr char Encoder[] = "audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=1 "
                                  "! opusenc name=encoder bitrate=24000 frame-size=10 bitrate-type=cbr "
                                  "audio-type=generic inband-fec=true ! rtpopuspay pt=96";

// RTP back to raw audio, a lost packet filled from the next one's
// correction data where it has it.
inline constexpr char Decoder[]
    = "rtpopusdepay ! opusdec plc=true use-inband-fec=true ! audioconvert ! audioresample";

// What the panel's pipeline is told it receives: RTP, or SRTP on a secure
// relay's UDP.
inline constexpr char RtpCaps[]
    = "application/x-rtp,media=audio,clock-rate=48000,encoding-name=OPUS,payload=96";
inline constexpr char SrtpCaps[]
    = "application/x-srtp,media=audio,clock-rate=48000,encoding-name=OPUS,payload=96";

// SRTP's protection, the same both ways: AES in counter mode with a
// 128-bit key and an 80-bit HMAC-SHA1 tag.
inline constexpr char SrtpCipher[] = "aes-128-icm";
inline constexpr char SrtpAuth[] = "hmac-sha1-80";

} // namespace AudioStreamFormat
