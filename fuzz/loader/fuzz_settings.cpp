// Any bytes as "sparlo.ini": the reader never crashes, and what it accepts is written back
// to a text that reads as the same settings.
#include "loader/settingsfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto s = loader::parseSettingsText(bytes);
    if (!s) return 0;
    if (s->port < 1 || s->port > 12) std::abort();
    const auto again = loader::parseSettingsText(loader::settingsFileText(*s));
    if (!again || !(*again == *s)) std::abort();
    return 0;
}
