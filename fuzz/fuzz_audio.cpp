// Feeds arbitrary bytes to what the relay and the panel read off the
// network for the audio: the panel's reports (read by the relay), and the
// framed stream on TCP and the RTP headers (read by the panel, and by the
// relay as the operator's audio comes back). Besides
// not crashing: a report is only ever signed by its own pass, and the
// stream gives the same packets however its bytes were cut.

#include "audio_packets.h"
#include "audio_pass.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    static const AudioPass pass = AudioPass::make();
    if (const auto report = AudioReport::read(bytes); report && report->isSignedBy(pass))
        std::abort();

    AudioPackets::Deframer whole, cut;
    const QList<QByteArray> packets = whole.feed(bytes);
    const qsizetype at = size ? data[0] % (size + 1) : 0;
    QList<QByteArray> pieces = cut.feed(bytes.first(at));
    pieces += cut.feed(bytes.sliced(at));
    if (pieces != packets)
        std::abort();
    for (const QByteArray &packet : packets)
        (void)AudioPackets::headerOf(packet);
    return 0;
}
