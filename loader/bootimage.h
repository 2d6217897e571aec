#pragma once

#include "firmware/heximage.h"

#include <QByteArray>
#include <QString>

namespace loader {

// The boot loader's image of the master's program memory: 32768 bytes and the address
// after the highest data byte of the file (0 until a file has been loaded).
struct BootImage {
    static constexpr int kSize = 0x8000;
    QByteArray bytes = QByteArray(kSize, char(0));
    int endAddress = 0;
    // Where the file's data lie (see firmware::ByteImageLoad::spans).
    QList<firmware::AddressSpan> spans;
    bool loaded = false;
};

// Reads an Intel HEX file into the image. The whole file is checked first; a bad file
// leaves the image as it was and *error names the line and the problem (unreadable set
// when the file itself could not be read).
bool loadBootImage(const QString &path, BootImage &image, firmware::LoadError *error);

} // namespace loader
