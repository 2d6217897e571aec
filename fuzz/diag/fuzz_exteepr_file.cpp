// Any bytes as an external EEPROM editor file: the reader never crashes; a library it
// accepts can be downloaded as it is (every program fits its record) and is written back to
// a file that reads as the same library.
#include "diag/exteeprlogic.h"

#include <cstdint>
#include <cstdlib>

using namespace diag::exteepr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const FileLoad texts = parseTextsFile(bytes);
    if (texts.error.isEmpty() && textWrites(texts.texts).size() != kMemoryBytes) std::abort();

    const FileLoad lib = parseLibraryFile(bytes);
    if (!lib.error.isEmpty()) return 0;
    const LibraryWrites w = libraryWrites(lib.library);
    if (!w.error.isEmpty() || w.writes.size() != 3 + pr::kRecordBytes * pr::kPrograms) std::abort();
    const FileText again = libraryFile(lib.library);
    if (!again.error.isEmpty()) return 0; // a name holding a CR cannot be filed again
    const FileLoad back = parseLibraryFile(again.bytes);
    if (!back.error.isEmpty() || back.library.header != lib.library.header) std::abort();
    for (int k = 1; k <= pr::kPrograms; ++k)
        if (back.library.programs[k].name != lib.library.programs[k].name ||
            back.library.programs[k].params != lib.library.programs[k].params)
            std::abort();
    return 0;
}
