#include "caliblogic.h"

#include <cmath>

namespace calib {

using charger::CellBlock;

double typedNumber(const QString &text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) ++i;
    bool digits = false;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
        ++i;
        digits = true;
    }
    if (i < n && text[i] == QLatin1Char('.')) {
        ++i;
        while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
            ++i;
            digits = true;
        }
    }
    if (!digits) return 0;
    return text.mid(start, i - start).toDouble();
}

std::optional<WordBytes> splitWord(double v) {
    if (!std::isfinite(v) || v < 0 || v > 65535 || v != std::floor(v)) return std::nullopt;
    const int w = int(v);
    const int high = w / 256;
    return WordBytes{quint8(high), quint8(w - 256 * high)};
}

std::optional<quint8> byteValue(double v) {
    if (!std::isfinite(v) || v < 0 || v > 255 || v != std::floor(v)) return std::nullopt;
    return quint8(v);
}

QString doesNotFit(const QString &what, double value, int max) {
    const QString shown =
        std::isfinite(value) ? QString::number(value, 'g', 12) : QStringLiteral("indéfini");
    return QStringLiteral("%1 = %2 : la valeur doit être comprise entre 0 et %3.\n"
                          "Rien n'est enregistré.")
        .arg(what, shown)
        .arg(max);
}

// ---------------------------------------------------------------- cell voltages

namespace {
// Volts per reference point, one row per cell count (the three-cell 4.1 V point is 12.2 V).
constexpr double kLithium[5][5] = {
    {4.4, 4.2, 4.1, 3.0, 2.7},      {8.8, 8.4, 8.2, 6.0, 5.4},      {13.2, 12.6, 12.2, 9.0, 8.1},
    {17.6, 16.8, 16.4, 12.0, 10.8}, {22.0, 21.0, 20.5, 15.0, 13.5},
};
// Charge, discharge and holding voltage per cell count.
constexpr double kLeadAcid[6][3] = {
    {2.47, 1.67, 2.29}, {4.94, 3.33, 4.58},   {7.41, 5.00, 6.87},
    {9.88, 6.67, 9.16}, {12.35, 8.33, 11.45}, {14.82, 10.00, 13.74},
};

QString caption(double volts, int decimals) {
    return QString::number(volts, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(',')) +
           QStringLiteral(" V");
}
} // namespace

std::optional<ReferencePoints> referencePoints(CellBlock kind, int cells) {
    const charger::CellBlockLayout &layout = charger::cellBlockLayout(kind);
    if (cells < 1 || cells > layout.maxCells) return std::nullopt;
    ReferencePoints p{kind, cells, {}, {}};
    for (int i = 0; i < layout.points; ++i) {
        const double v =
            kind == CellBlock::Lithium ? kLithium[cells - 1][i] : kLeadAcid[cells - 1][i];
        p.volts << v;
        p.captions << caption(v, kind == CellBlock::Lithium ? 1 : 2);
    }
    return p;
}

LawResult lithiumLaw(const std::array<double, 5> &v, const std::array<double, 5> &c) {
    LawResult r;
    for (int i = 0; i < 4; ++i)
        if (c[i] == c[i + 1])
            return {std::nullopt, QStringLiteral("Deux points voisins ont la même valeur CAD "
                                                 "(%1) : la pente n'est pas définie.\n"
                                                 "Rien n'est enregistré.")
                                      .arg(c[i])};
    if (c[0] == c[4])
        return {std::nullopt,
                QStringLiteral("Le premier et le dernier point ont la même valeur CAD (%1) : "
                               "la pente n'est pas définie.\nRien n'est enregistré.")
                    .arg(c[0])};
    LithiumLaw law;
    // Quotient first, then the factor: a quotient a hair below a whole number floors below.
    for (int i = 0; i < 4; ++i)
        law.slopes[i] = std::floor(((v[i] - v[i + 1]) / (c[i] - c[i + 1])) * 1000000);
    law.slopes[4] = std::floor(((v[0] - v[4]) / (c[0] - c[4])) * 1000000);
    double sum = 0;
    for (double s : law.slopes)
        sum += s;
    law.a = std::floor(sum / 5);
    sum = 0;
    for (int i = 0; i < 4; ++i) {
        law.offsets[i] = std::floor((1000000 * v[i] - c[i] * law.a) / 1000);
        sum += law.offsets[i];
    }
    law.b = std::floor(sum / 4);
    if (!splitWord(law.a))
        return {std::nullopt, doesNotFit(QStringLiteral("Coef A"), law.a, 65535)};
    if (!splitWord(law.b))
        return {std::nullopt, doesNotFit(QStringLiteral("Ofst B"), law.b, 65535)};
    r.law = law;
    return r;
}

// ---------------------------------------------------------------- scales and currents

std::optional<double> Arithmetic::scale(double reading, double hundredths) const {
    if (hundredths == 0) return std::nullopt;
    return std::floor(1024 * reading / hundredths);
}

std::optional<double> Arithmetic::multiplier(double cad, double current) const {
    if (current == 0) return std::nullopt;
    return std::floor(cad * 1024 / current);
}

std::optional<double> Arithmetic::potCoefficient(double pot, double current) const {
    if (current == 0) return std::nullopt;
    return std::floor((pot / current) * 100);
}

const Arithmetic &Arithmetic::standard() {
    static const Arithmetic a;
    return a;
}

// ---------------------------------------------------------------- automatic-mode currents

AutoRange autoRange(int storedByte) {
    const int c = qMin(storedByte, 127); // twice it still fits a byte
    return {c, c / 2, 2 * c};
}

std::optional<double> autoRatio(int now, int stored) {
    if (stored == 0) return std::nullopt;
    return std::floor((double(now) / stored) * 100) / 100;
}

} // namespace calib
