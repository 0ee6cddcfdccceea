// Feeds arbitrary bytes to the settings reader as the contents of the
// settings file. Besides not crashing, what the reader makes of any file
// must survive the next exit: the values it gives, written by the writer
// and read again, come back the same, every field of them.

#include "app/settings_record.h"

#include <cstddef>
#include <cstdint>

namespace {

// Stand-ins for the settings a field falls back on when it cannot be read;
// any values do.
constexpr qint16 FallbackPort = 1;
const QString FallbackText = QStringLiteral("fallback");
constexpr bool FallbackBoolean = false;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const SettingsRecord read = parseSettingsRecord(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    const qint16 port = read.commPortNumber.value_or(FallbackPort);
    const QString address = read.hostAddress.value_or(FallbackText);
    const QString offset = read.utcOffset.value_or(FallbackText);
    const bool autoConnect = read.autoConnect.value_or(FallbackBoolean);
    const bool debugOn = read.debugOn.value_or(FallbackBoolean);

    const SettingsRecord again
        = parseSettingsRecord(formatSettingsRecord(port, address, offset, autoConnect, debugOn));
    if (again.commPortNumber != port || again.hostAddress != address || again.utcOffset != offset
        || again.autoConnect != autoConnect || again.debugOn != debugOn)
        __builtin_trap();
    return 0;
}
