#include "exteeprlogic.h"

#include "link/numtext.h"

#include <QRegularExpression>
#include <cmath>

namespace diag::exteepr {

namespace {

QString digits(int v, int width) {
    return QString::number(v).rightJustified(width, QLatin1Char('0'));
}

// The value of a field of digits only, or nothing (an empty field is 0).
std::optional<int> integerField(const QString &text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return 0;
    if (t.size() > 6) return std::nullopt;
    for (const QChar c : t)
        if (!c.isDigit() || c.unicode() > '9') return std::nullopt;
    return t.toInt();
}

// "1,500 A", "1,5", "1.5 A", "2": the value in hundredths, or nothing for a text that is not
// a number of hundredths.
std::optional<int> centiField(QString text, QChar unit) {
    text = text.trimmed();
    if (text.endsWith(unit, Qt::CaseInsensitive)) text.chop(1);
    text = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    if (text.isEmpty()) return 0;
    static const QRegularExpression number(QStringLiteral("^\\d{1,6}(\\.\\d{0,6})?$"));
    if (!number.match(text).hasMatch()) return std::nullopt;
    const double hundredths = text.toDouble() * 100.0;
    const double rounded = std::round(hundredths);
    if (std::abs(hundredths - rounded) > 1e-6) return std::nullopt; // finer than 10 mA
    return int(rounded);
}

QString fieldCaption(pr::Field f, int type) {
    switch (f) {
    case pr::Field::Name:
        return QStringLiteral("Nom");
    case pr::Field::Flags:
        return QStringLiteral("Mode");
    case pr::Field::Type:
        return QStringLiteral("Type");
    case pr::Field::Cells:
        return QStringLiteral("Nbr Elem");
    case pr::Field::Charge:
        return QStringLiteral("I Chrg");
    case pr::Field::Discharge:
        return QStringLiteral("I Dechrg");
    case pr::Field::Hours:
    case pr::Field::Minutes:
        return QStringLiteral("Duree");
    case pr::Field::Cycles:
        return QStringLiteral("Nbr Cycl");
    case pr::Field::Volts:
        return type == pr::Lithium || type == pr::LeadAcid ? QStringLiteral("Ajus. VMax")
                                                           : QStringLiteral("V Dech");
    }
    return QString();
}

QString fieldLimit(pr::Field f) {
    switch (f) {
    case pr::Field::Cells:
        return QStringLiteral("un nombre de 0 à 99");
    case pr::Field::Charge:
    case pr::Field::Discharge:
        return QStringLiteral("de 0,00 à 9,99 A, par pas de 0,01 A");
    case pr::Field::Volts:
        return QStringLiteral("de 0,00 à 9,99 V, par pas de 0,01 V");
    case pr::Field::Hours:
    case pr::Field::Minutes:
        return QStringLiteral("de 0 à 9 heures, les minutes gardées en dizaines");
    case pr::Field::Cycles:
        return QStringLiteral("un nombre de 0 à 9");
    case pr::Field::Type:
        return QStringLiteral("un chiffre de 0 à 3");
    case pr::Field::Name:
        return QStringLiteral("16 caractères au plus, chacun tenant dans un octet");
    case pr::Field::Flags:
        return QStringLiteral("de 0 à 255");
    }
    return QString();
}

QString refusal(pr::Field f, int type) {
    return QStringLiteral("%1 : valeur refusée, elle ne tient pas dans l'EEprom (%2).")
        .arg(fieldCaption(f, type), fieldLimit(f));
}

// Lines of a file: split at LF, one CR before it dropped.
QStringList fileLines(const QByteArray &bytes) {
    QStringList lines = QString::fromLatin1(bytes).split(QLatin1Char('\n'));
    for (QString &l : lines)
        if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    return lines;
}

bool hasLineBreak(const QString &s) {
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

QString lineBreakError(const QString &what) {
    return QStringLiteral("%1 contient un saut de ligne : le fichier ne pourrait pas être relu.")
        .arg(what);
}

QString tooShort(int lines, int needed) {
    return QStringLiteral("Fichier incomplet : %1 lignes au lieu de %2. Rien n'a été changé.")
        .arg(lines)
        .arg(needed);
}

QByteArray joinLines(const QStringList &lines) {
    QByteArray out;
    for (const QString &l : lines)
        out += l.toLatin1() + "\r\n";
    return out;
}

} // namespace

QString memoryName(int selection) {
    return QStringLiteral("EEprom%1").arg(selection);
}

int maxPosition(int selection) {
    return selection == ProgramMemory ? pr::kPrograms : kTextRecords - 1;
}

QStringList initialTexts() {
    QStringList t;
    for (int r = 0; r < kTextRecords; ++r)
        t << QStringLiteral("mesg ") + chlink::numText(r);
    return t;
}

Library initialLibrary() {
    Library lib;
    lib.header = QStringLiteral("----------------");
    lib.programs.resize(pr::kRecords);
    for (int k = 1; k <= 64; ++k)
        lib.programs[k] = {QStringLiteral("----------------"), QString(24, QLatin1Char('0'))};
    return lib;
}

QStringList textsFromMemory(const QByteArray &memory) {
    QStringList t;
    for (int r = 0; r < kTextRecords; ++r)
        t << QString::fromLatin1(memory.mid(kTextChars * r, kTextChars));
    return t;
}

Library libraryFromMemory(const QByteArray &memory) {
    Library lib;
    lib.header = pr::headerText(memory);
    lib.programs.resize(pr::kRecords);
    for (int k = 1; k <= pr::kPrograms; ++k) {
        const QByteArray r = memory.mid(pr::kRecordBytes * k, pr::kRecordBytes);
        lib.programs[k] = {pr::recordName(r), pr::paramText(pr::recordParams(r))};
    }
    return lib;
}

pr::ProgramParams paramsOf(const Program &p) {
    return pr::parseParamText(pr::fitParamText(p.params)).value_or(pr::ProgramParams{});
}

QVector<Write> textWrites(const QStringList &texts) {
    QVector<Write> w;
    w.reserve(kMemoryBytes);
    for (int r = 0; r < kTextRecords; ++r) {
        const QByteArray bytes = pr::fitName(texts.value(r)).toLatin1();
        for (int j = 0; j < kTextChars; ++j)
            w.append({kTextChars * r + j, quint8(bytes.at(j))});
    }
    return w;
}

LibraryWrites libraryWrites(const Library &lib) {
    LibraryWrites out;
    const QByteArray header = pr::headerBytes(lib.header);
    for (int i = 0; i < pr::kHeaderChars; ++i)
        out.writes.append({i, quint8(header.at(i))});
    for (int k = 1; k <= pr::kPrograms; ++k) {
        const Program p = lib.programs.value(k);
        const auto params = pr::parseParamText(pr::fitParamText(p.params));
        const auto unfit = params ? pr::unfitField(p.name, *params) : pr::Field::Flags;
        if (unfit) {
            out.writes.clear();
            out.error = QStringLiteral("Programme %1 : ").arg(k) +
                        refusal(*unfit, params ? params->type : 0);
            return out;
        }
        const QByteArray record = pr::programRecord(p.name, *params);
        for (int j = 0; j < pr::kRecordBytes; ++j)
            out.writes.append({pr::kRecordBytes * k + j, quint8(record.at(j))});
    }
    return out;
}

std::optional<QChar> unwritableChar(const QString &text) {
    for (const QChar c : text)
        if (c.unicode() > 0xFF) return c;
    return std::nullopt;
}

QString centiText(int centi, QChar unit) {
    const QString d = digits(centi, 3);
    return d.left(1) + QLatin1Char(',') + d.mid(1, 2) + QStringLiteral("0 ") + unit;
}

QString durationText(int hours, int minutes) {
    return digits(hours, 2) + QLatin1Char('H') + digits(minutes, 2);
}

FieldTexts fieldTexts(const Program &p) {
    const pr::ProgramParams v = paramsOf(p);
    FieldTexts f;
    f.name = p.name;
    f.type = QString::number(v.type);
    f.cells = QString::number(v.cells);
    f.charge = centiText(v.chargeCentiAmps, QLatin1Char('A'));
    f.discharge = centiText(v.dischargeCentiAmps, QLatin1Char('A'));
    f.duration = durationText(v.hours, v.minutes);
    f.cycles = QString::number(v.cycles);
    f.volts = centiText(v.voltsCenti, QLatin1Char('V'));
    f.flags = v.flags;
    return f;
}

QString fitTypeText(const QString &text) {
    const auto v = integerField(text);
    return v && *v > 3 ? QStringLiteral("0") : text;
}

int typeOf(const QString &text) {
    const auto v = integerField(text);
    return v && *v <= 3 ? *v : 0;
}

Stored programFromFields(const FieldTexts &f) {
    const int type = typeOf(f.type);
    Stored s;
    pr::ProgramParams p;
    p.flags = f.flags & pr::kOptionMask;
    p.type = type;
    const auto fail = [&](pr::Field field) {
        s.error = refusal(field, type);
        return s;
    };
    if (const auto c = integerField(f.cells))
        p.cells = *c;
    else
        return fail(pr::Field::Cells);
    if (const auto c = centiField(f.charge, QLatin1Char('A')))
        p.chargeCentiAmps = *c;
    else
        return fail(pr::Field::Charge);
    if (const auto c = centiField(f.discharge, QLatin1Char('A')))
        p.dischargeCentiAmps = *c;
    else
        return fail(pr::Field::Discharge);
    static const QRegularExpression duration(
        QStringLiteral("^\\s*(\\d{0,2})\\s*[Hh:]\\s*(\\d{0,2})\\s*$"));
    const auto m = duration.match(f.duration);
    if (m.hasMatch()) {
        p.hours = m.captured(1).toInt();
        p.minutes = m.captured(2).toInt();
    } else if (!f.duration.trimmed().isEmpty()) {
        return fail(pr::Field::Hours);
    }
    if (const auto c = integerField(f.cycles))
        p.cycles = *c;
    else
        return fail(pr::Field::Cycles);
    if (const auto c = centiField(f.volts, QLatin1Char('V')))
        p.voltsCenti = *c;
    else
        return fail(pr::Field::Volts);
    if (const auto unfit = pr::unfitField(f.name, p)) return fail(*unfit);
    s.program = Program{f.name, pr::paramText(p)};
    return s;
}

FileText textsFile(const QStringList &texts) {
    for (int r = 0; r < kTextRecords; ++r)
        if (hasLineBreak(texts.value(r)))
            return {{}, lineBreakError(QStringLiteral("Le message %1").arg(r))};
    return {joinLines(texts.mid(0, kTextRecords)), QString()};
}

FileText libraryFile(const Library &lib) {
    if (hasLineBreak(lib.header)) return {{}, lineBreakError(QStringLiteral("L'en-tête"))};
    QStringList lines{lib.header, lib.header};
    for (int k = 1; k <= pr::kPrograms; ++k) {
        const Program p = lib.programs.value(k);
        if (hasLineBreak(p.name) || hasLineBreak(p.params))
            return {{}, lineBreakError(QStringLiteral("Le programme %1").arg(k))};
        lines << p.name << p.params;
    }
    return {joinLines(lines), QString()};
}

FileLoad parseTextsFile(const QByteArray &bytes) {
    FileLoad load;
    const QStringList lines = fileLines(bytes);
    // A last line ending in CR LF leaves an empty piece after it, which is not a line.
    const int count = int(lines.size()) - (lines.last().isEmpty() ? 1 : 0);
    if (count < kTextRecords) {
        load.error = tooShort(count, kTextRecords);
        return load;
    }
    for (int r = 0; r < kTextRecords; ++r)
        load.texts << pr::fitName(lines.at(r));
    return load;
}

FileLoad parseLibraryFile(const QByteArray &bytes) {
    FileLoad load;
    const QStringList lines = fileLines(bytes);
    const int needed = 2 + 2 * pr::kPrograms;
    const int count = int(lines.size()) - (lines.last().isEmpty() ? 1 : 0);
    if (count < needed) {
        load.error = tooShort(count, needed);
        return load;
    }
    load.library.header = lines.at(0).left(pr::kHeaderChars);
    load.library.programs.resize(pr::kRecords);
    for (int k = 1; k <= pr::kPrograms; ++k) {
        const int line = 2 * k + 1; // the parameter line, counted from 1
        const QString params = pr::fitParamText(lines.at(line));
        const auto p = pr::parseParamText(params);
        if (!p) {
            load.error = QStringLiteral("Ligne %1 : « %2 » n'est pas un texte de 21 chiffres. "
                                        "Rien n'a été changé.")
                             .arg(line + 1)
                             .arg(lines.at(line));
            return load;
        }
        const QString name = pr::fitName(lines.at(line - 1));
        if (const auto unfit = pr::unfitField(name, *p)) {
            load.error =
                QStringLiteral("Ligne %1 : ").arg(*unfit == pr::Field::Name ? line : line + 1) +
                refusal(*unfit, p->type) + QStringLiteral(" Rien n'a été changé.");
            return load;
        }
        load.library.programs[k] = {name, params};
    }
    return load;
}

QString progressText(int done, int total, qint64 elapsedMs) {
    QString t = QStringLiteral("%1 / %2 octets").arg(done).arg(total);
    if (done <= 0 || elapsedMs < 200 || done >= total) return t;
    const qint64 left = elapsedMs * (total - done) / done;
    const qint64 s = (left + 999) / 1000;
    t += QStringLiteral(", reste environ ");
    t += s >= 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'))
                 : QStringLiteral("%1 s").arg(s);
    return t;
}

} // namespace diag::exteepr
