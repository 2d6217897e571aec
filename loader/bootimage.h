#pragma once

#include <QByteArray>
#include <QString>

namespace loader {

// The boot loader's image of the master's program memory: 32768 bytes and the address
// after the last data byte of the file (0 until a file has been loaded).
struct BootImage {
    static constexpr int kSize = 0x8000;
    QByteArray bytes = QByteArray(kSize, char(0));
    int endAddress = 0;
    bool loaded = false;
};

// Reads an Intel HEX file into the image. The whole file is checked first; a bad file
// leaves the image as it was and *error names the line and the problem.
bool loadBootImage(const QString &path, BootImage &image, QString *error);

} // namespace loader
