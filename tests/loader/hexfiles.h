#pragma once

// HEX files for the tests.

#include "support/hexwriter.h"

#include <QByteArray>

// A recognisable byte pattern of n bytes.
inline QByteArray pattern(int n) {
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 13 + (i >> 8)) & 0xFF);
    return b;
}
