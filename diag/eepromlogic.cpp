#include "eepromlogic.h"

#include <cmath>

namespace diag {

QString hexByte(quint8 b) {
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

namespace {
QString bytesLine(const QByteArray &image, int first, const QString &gap) {
    QString s;
    for (int a = first; a < first + 16; ++a)
        s += hexByte(a < image.size() ? quint8(image.at(a)) : 0) + gap;
    return s;
}
QString header(const QString &gap) {
    QString s;
    for (int i = 0; i < 16; ++i) {
        if (i) s += gap;
        s += hexByte(quint8(i));
    }
    return s;
}
} // namespace

QString generalLine(const QByteArray &image) {
    return bytesLine(image, 0, QStringLiteral("  "));
}

QString rowLine(const QByteArray &image, int row) {
    return bytesLine(image, 16 * row, QStringLiteral(" "));
}

QString generalHeader() {
    return header(QStringLiteral("  "));
}

QString rowHeader() {
    return header(QStringLiteral(" "));
}

std::optional<int> byteEntry(const QString &text) {
    int i = 0;
    const int n = int(text.size());
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    double v = 0;
    int digits = 0;
    while (i < n && text[i].isDigit() && digits < 12) {
        v = 10 * v + text[i++].digitValue();
        ++digits;
    }
    if (digits == 12 && i < n && text[i].isDigit()) return std::nullopt; // far beyond 255
    if (i < n && text[i] == QLatin1Char('.')) {
        ++i;
        double scale = 0.1;
        while (i < n && text[i].isDigit() && scale > 1e-12) {
            v += scale * text[i++].digitValue();
            scale /= 10;
        }
    }
    if (negative) v = -v;
    const double r = std::nearbyint(v); // the default rounding: halves to even
    if (r < 0 || r > 255) return std::nullopt;
    return int(r);
}

} // namespace diag
