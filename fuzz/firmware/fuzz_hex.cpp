// Fuzz target for one HEX loader (chosen at build time): any text either loads or is
// refused with a line number, and never crashes, hangs or reads out of bounds. A refused
// file leaves the image as it was; a loaded one keeps the image's size and the slave's
// 14-bit words, and its data spans are sorted, apart and end at the end address.

#include "firmware/heximage.h"

#include <cstdint>
#include <cstdlib>

using namespace firmware;

static void check(bool ok) {
    if (!ok) std::abort();
}

// The spans of a loaded byte image: sorted, apart, inside the image, ending at endAddress.
static void checkSpans(const ByteImageLoad &r, int size) {
    if (!r.ok) return;
    check(!r.spans.isEmpty() && r.spans.last().to == r.endAddress);
    int previousEnd = -1;
    for (const AddressSpan &s : r.spans) {
        check(s.from > previousEnd && s.from < s.to && s.to <= size);
        previousEnd = s.to;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray text =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
#if defined(FUZZ_LOADER_master)
    static const QByteArray before = [] {
        QByteArray b(kMasterImageSize, 0);
        for (int i = 0; i < b.size(); ++i)
            b[i] = char(i * 31);
        return b;
    }();
    const ByteImageLoad r = loadMasterImage(text, before);
    check(r.image.size() == kMasterImageSize);
    check(r.ok || r.image == before);
    check(!r.ok || (r.endAddress > 0 && r.endAddress <= kMasterImageSize));
    checkSpans(r, kMasterImageSize);
#elif defined(FUZZ_LOADER_slave)
    static const QVector<quint16> before(kSlaveWords, 0x1234);
    const SlaveImageLoad r = loadSlaveImage(text, before);
    check(r.words.size() == kSlaveWords);
    check(r.ok || r.words == before);
    if (r.ok) {
        check(r.lastAddress > 0 && r.lastAddress <= kSlaveWords);
        for (quint16 w : r.words)
            check(w <= 0x3FFF);
    }
#elif defined(FUZZ_LOADER_boot)
    static const QByteArray before(kBootImageSize, char(0x5A));
    const ByteImageLoad r = loadBootImage(text, before);
    check(r.image.size() == kBootImageSize);
    check(r.ok || r.image == before);
    check(!r.ok || (r.endAddress > 0 && r.endAddress <= kBootImageSize));
    checkSpans(r, kBootImageSize);
    // Something to send below the boot loader's own area.
    check(!r.ok || r.holdsDataIn(0, kBootUploadEnd));
#endif
    check(r.ok || (!r.error.message.isEmpty() && !r.error.english.isEmpty()));
    return 0;
}
