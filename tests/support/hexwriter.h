#pragma once

#include <QByteArray>

// Intel HEX text of `bytes` placed at `base`, in records of `recordBytes`, with extended
// linear address records where the upper 16 bits change, ending with the end record. Used by
// tests and benchmarks to make firmware files.
inline QByteArray hexText(const QByteArray &bytes, int base = 0, int recordBytes = 16) {
    const auto record = [](const QByteArray &rec) {
        quint8 sum = 0;
        for (char c : rec)
            sum = quint8(sum + quint8(c));
        return ':' + (rec + char(quint8(-sum))).toHex().toUpper() + "\r\n";
    };
    QByteArray out;
    int upper = 0;
    for (int off = 0; off < bytes.size(); off += recordBytes) {
        const int address = base + off;
        if ((address >> 16) != upper) {
            upper = address >> 16;
            out += record(QByteArray("\x02\x00\x00\x04", 4) + char(upper >> 8) + char(upper));
        }
        const QByteArray d = bytes.mid(off, recordBytes);
        out += record(QByteArray(1, char(d.size())) + char((address >> 8) & 0xFF) +
                      char(address & 0xFF) + char(0) + d);
    }
    return out + ":00000001FF\r\n";
}
