#include "bootimage.h"

namespace loader {

bool loadBootImage(const QString &path, BootImage &image, firmware::LoadError *error) {
    QByteArray text;
    firmware::LoadError readError;
    if (!firmware::readHexFile(path, &text, &readError)) {
        if (error) *error = readError;
        return false;
    }
    // Before the first load the buffer holds zeros; the loader fills what it covers.
    const firmware::ByteImageLoad r = firmware::loadBootImage(text, image.bytes);
    if (!r.ok) {
        if (error) *error = r.error;
        return false;
    }
    image.bytes = r.image;
    image.endAddress = r.endAddress;
    image.spans = r.spans;
    image.loaded = true;
    return true;
}

} // namespace loader
