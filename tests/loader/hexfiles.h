#pragma once

// HEX files for the tests.

#include <QByteArray>

// An Intel HEX text of `bytes` from address 0, 16 bytes a record.
inline QByteArray hexText(const QByteArray &bytes) {
    QByteArray out;
    for (int a = 0; a < bytes.size(); a += 16) {
        const QByteArray d = bytes.mid(a, 16);
        QByteArray rec;
        rec.append(char(d.size()));
        rec.append(char(a >> 8));
        rec.append(char(a & 0xFF));
        rec.append(char(0));
        rec.append(d);
        quint8 sum = 0;
        for (char c : rec)
            sum = quint8(sum + quint8(c));
        rec.append(char(quint8(0x100 - sum)));
        out += ':' + rec.toHex().toUpper() + "\r\n";
    }
    return out + ":00000001FF\r\n";
}

inline QByteArray pattern(int n) {
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 13 + (i >> 8)) & 0xFF);
    return b;
}
