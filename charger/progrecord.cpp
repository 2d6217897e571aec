#include "progrecord.h"

namespace charger::progrecord {

namespace {

// Where each numeric field sits in a record and in the parameter text.
struct Layout {
    Field field;
    int ProgramParams::*value;
    int recordAt;    // first byte in the record
    int recordWidth; // digits in the record
    int textAt;      // first position in the parameter text (from 0)
    int textWidth;
    int scale; // text value = record digits x scale (the minutes: tens)
};

constexpr Layout kLayout[] = {
    {Field::Type, &ProgramParams::type, 17, 1, 3, 1, 1},
    {Field::Cells, &ProgramParams::cells, 18, 2, 4, 2, 1},
    {Field::Charge, &ProgramParams::chargeCentiAmps, 20, 3, 6, 3, 1},
    {Field::Discharge, &ProgramParams::dischargeCentiAmps, 23, 3, 9, 3, 1},
    {Field::Hours, &ProgramParams::hours, 26, 1, 12, 2, 1},
    {Field::Minutes, &ProgramParams::minutes, 27, 1, 14, 2, 10},
    {Field::Cycles, &ProgramParams::cycles, 28, 1, 16, 2, 1},
    {Field::Volts, &ProgramParams::voltsCenti, 29, 3, 18, 3, 1},
};
constexpr int kFlagsByte = 16;
constexpr int kFlagsDigits = 3;

int power10(int n) {
    int p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

QString digits(int v, int width) {
    return QString::number(v).rightJustified(width, QLatin1Char('0'), true);
}

QByteArray latin1Digits(int v, int width) {
    return QByteArray::number(v % power10(width)).rightJustified(width, '0');
}

int digitsValue(const QByteArray &bytes, int from, int count) {
    int v = 0;
    for (int i = from; i < from + count; ++i)
        v = 10 * v + digitValue(i < bytes.size() ? bytes.at(i) : ' ');
    return v;
}

} // namespace

int digitValue(char byte) {
    return byte >= '0' && byte <= '9' ? byte - '0' : 0;
}

QString recordName(const QByteArray &record) {
    return QString::fromLatin1(record.left(kNameChars));
}

ProgramParams recordParams(const QByteArray &record) {
    ProgramParams p;
    p.flags = record.size() > kFlagsByte ? quint8(record.at(kFlagsByte)) : 0;
    for (const Layout &l : kLayout)
        p.*l.value = digitsValue(record, l.recordAt, l.recordWidth) * l.scale;
    return p;
}

std::optional<Field> unfitField(const QString &name, const ProgramParams &p) {
    if (name.size() > kNameChars) return Field::Name;
    for (const QChar c : name)
        if (c.unicode() > 0xFF) return Field::Name;
    if (p.flags < 0 || p.flags > 0xFF) return Field::Flags;
    for (const Layout &l : kLayout) {
        const int v = p.*l.value;
        if (v < 0 || v >= power10(l.recordWidth) * l.scale) return l.field;
    }
    return std::nullopt;
}

QByteArray programRecord(const QString &name, const ProgramParams &p) {
    QByteArray r = fitName(name).toLatin1();
    r += char(quint8(p.flags));
    for (const Layout &l : kLayout)
        r += latin1Digits(p.*l.value / l.scale, l.recordWidth);
    return r;
}

QString paramText(const ProgramParams &p) {
    QString t = digits(p.flags, kFlagsDigits);
    for (const Layout &l : kLayout)
        t += digits(p.*l.value, l.textWidth);
    return t;
}

QString blankParamText() {
    return QString(kParamDigits, QLatin1Char('0'));
}

std::optional<ProgramParams> parseParamText(const QString &text) {
    if (text.size() != kParamDigits) return std::nullopt;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    ProgramParams p;
    p.flags = text.left(kFlagsDigits).toInt();
    for (const Layout &l : kLayout)
        p.*l.value = text.mid(l.textAt, l.textWidth).toInt();
    return p;
}

QString fitParamText(const QString &text) {
    return text.leftJustified(kParamDigits, QLatin1Char('0'), true);
}

QString fitName(const QString &name) {
    return name.leftJustified(kNameChars, QLatin1Char(' '), true);
}

QString headerText(const QByteArray &memory) {
    return QString::fromLatin1(memory.left(kHeaderChars));
}

QByteArray headerBytes(const QString &text) {
    return text.leftJustified(kHeaderChars, QLatin1Char(' '), true).toLatin1();
}

QString typeName(int type) {
    switch (type) {
    case NiMh:
        return QStringLiteral("Ni-Mh");
    case Lithium:
        return QStringLiteral("Lith");
    case LeadAcid:
        return QStringLiteral("PB");
    default:
        return QStringLiteral("Ni-Cd");
    }
}

QString optionCaption(int type, int bit) {
    // Rows: bits 1..6; columns: nickel (types 0 and 1), lithium, lead-acid.
    static const char *const captions[6][3] = {
        {"No Topping ch", "Fin rapide", "Pas de Maintien"},
        {"No Prech > disch", "C à V = 4.1v", nullptr},
        {"No dV/dT @ch", "Prech @chrg", "Prech @chrg"},
        {"dV/dT @dech", "Dech. Speciale", "Dech. Speciale"},
        {"Chrg Semi Rapide", "Charge Reflex", "Charge Reflex"},
        {"Dech Resistive", nullptr, nullptr},
    };
    if (bit < kFirstOptionBit || bit > kLastOptionBit) return QString();
    const int column = type == Lithium ? 1 : type == LeadAcid ? 2 : 0;
    const char *c = captions[bit - kFirstOptionBit][column];
    return c ? QString::fromUtf8(c) : QString();
}

} // namespace charger::progrecord
