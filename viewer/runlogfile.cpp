#include "runlogfile.h"

#include "modes/capalogic.h"
#include "modes/monilogic.h"
#include "modes/runlog.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>

namespace viewer {

namespace {

const QString kRaw = QStringLiteral("brut");

ColumnInfo col(const QString &name, const QString &unit, bool plottable = true) {
    return {name, unit, true, plottable};
}
ColumnInfo text(const QString &name) {
    return {name, QString(), false, false};
}

// The units of the columns, by name, as the run windows compute them.
QString unitOf(const QString &name) {
    static const QHash<QString, QString> units = {
        {QStringLiteral("DUREE"), QStringLiteral("s")},
        {QStringLiteral("VALIM"), QStringLiteral("V")},
        {QStringLiteral("VDBL"), QStringLiteral("V")},
        {QStringLiteral("VBAT"), QStringLiteral("V")},
        {QStringLiteral("VUNIT"), QStringLiteral("V")},
        {QStringLiteral("ICHRG"), QStringLiteral("A")},
        {QStringLiteral("IDECHRG"), QStringLiteral("A")},
        {QStringLiteral("TEMPER"), QStringLiteral("°C")},
        {QStringLiteral("CAPACITE"), QStringLiteral("mAh")},
        {QStringLiteral("TOTALCHARGE"), QStringLiteral("A·s")},
        {QStringLiteral("TOTALDECHARGE"), QStringLiteral("A·s")},
        {QStringLiteral("RESISTANCE"), QStringLiteral("mΩ")},
        {QStringLiteral("TEMPS"), QStringLiteral("j")},
        {QStringLiteral("DVFLAG"), QString()},
    };
    const auto it = units.constFind(name);
    return it != units.constEnd() ? *it : kRaw;
}

std::vector<ColumnInfo> fromNames(const QStringList &names) {
    std::vector<ColumnInfo> cols;
    for (const QString &n : names) {
        const bool axis = n == QLatin1String("DUREE") || n == QLatin1String("TEMPS");
        cols.push_back(col(n, unitOf(n), !axis));
    }
    return cols;
}

QStringList split(const QString &line, QChar sep) {
    QStringList parts = line.split(sep);
    // A header written with a separator after its last name reads the same.
    if (parts.size() > 1 && parts.last().trimmed().isEmpty()) parts.removeLast();
    for (QString &p : parts)
        p = p.trimmed();
    return parts;
}

bool sameNames(const QStringList &a, const QStringList &b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i].compare(b[i], Qt::CaseInsensitive) != 0) return false;
    return true;
}

QStringList monitorNames() {
    return modes::moni::logHeader().split(QLatin1Char(','));
}

// A field in log number form: " 12 ", "-3 ", " 1.5 ", " 1,5 ", " .56 ", or a value in
// exponent form; empty for a value never computed.
bool parseNumber(const QString &field, std::optional<double> &out, QChar &decimalSeen) {
    const QString t = field.trimmed();
    if (t.isEmpty()) {
        out.reset();
        return true;
    }
    QString n = t;
    if (n.contains(QLatin1Char(','))) {
        decimalSeen = QLatin1Char(',');
        n.replace(QLatin1Char(','), QLatin1Char('.'));
    } else if (n.contains(QLatin1Char('.'))) {
        decimalSeen = QLatin1Char('.');
    }
    bool ok = false;
    const double v = QLocale::c().toDouble(n, &ok);
    if (!ok || !std::isfinite(v)) return false;
    out = v;
    return true;
}

QString decode(const QByteArray &bytes) {
    QByteArray b = bytes;
    if (b.startsWith("\xEF\xBB\xBF")) b.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString s = utf8.decode(b);
    // Not UTF-8 (a log touched by an editor in a legacy encoding): read it as Latin-1.
    if (utf8.hasError()) return QString::fromLatin1(b);
    return s;
}

} // namespace

QString kindName(LogKind kind) {
    switch (kind) {
    case LogKind::Charge:
        return QStringLiteral("Charge");
    case LogKind::Discharge:
        return QStringLiteral("Décharge");
    case LogKind::Capacity:
        return QStringLiteral("Mesure de capacité");
    case LogKind::Monitor:
        return QStringLiteral("Moniteur");
    }
    return {};
}

QString ColumnInfo::title() const {
    return unit.isEmpty() ? name : name + QStringLiteral(" (") + unit + QLatin1Char(')');
}

QDateTime startFromName(const QString &fileName) {
    static const QRegularExpression re(
        QStringLiteral("_D(\\d\\d)_(\\d\\d)_(\\d\\d)T(\\d\\d)_(\\d\\d)(_\\d+)?\\.txt$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(QFileInfo(fileName).fileName());
    if (!m.hasMatch()) return {};
    const QDate d(2000 + m.captured(3).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
    const QTime t(m.captured(4).toInt(), m.captured(5).toInt());
    if (!d.isValid() || !t.isValid()) return {};
    return QDateTime(d, t);
}

QDateTime RunLog::start() const {
    if (info && info->start.isValid()) return info->start;
    return startFromName(path);
}

int RunLog::columnIndex(const QString &name) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name == name) return int(i);
    return -1;
}

std::optional<LogKind> recogniseHeader(const QString &headerLine) {
    const QString line = headerLine.trimmed();
    const QStringList colon = split(line, QLatin1Char(':'));
    if (sameNames(colon, modes::chargeColumns())) return LogKind::Charge;
    if (sameNames(colon, modes::dischargeColumns())) return LogKind::Discharge;
    if (sameNames(colon, modes::capa::logColumns())) return LogKind::Capacity;
    if (sameNames(split(line, QLatin1Char(',')), monitorNames())) return LogKind::Monitor;
    return std::nullopt;
}

std::vector<ColumnInfo> columnsOf(LogKind kind) {
    switch (kind) {
    case LogKind::Charge:
        return fromNames(modes::chargeColumns());
    case LogKind::Discharge:
        return fromNames(modes::dischargeColumns());
    case LogKind::Capacity:
        return fromNames(modes::capa::logColumns());
    case LogKind::Monitor: {
        const QStringList n = monitorNames();
        std::vector<ColumnInfo> cols;
        for (qsizetype i = 0; i < n.size(); ++i) {
            const QString &name = n[i];
            if (i == 0 || i == 3)
                cols.push_back(text(name)); // the prompt, "="
            else if (i == 1 || i == 10)
                cols.push_back(col(name, QString(), false)); // sample number, type
            else if (i == 2)
                cols.push_back(col(name, QStringLiteral("s"), false));
            else
                cols.push_back(col(name, kRaw));
        }
        return cols;
    }
    }
    return {};
}

ReadResult parseRunLog(const QByteArray &content, const QString &name) {
    ReadResult result;
    const QString all = decode(content);
    QStringList lines = all.split(QLatin1Char('\n'));
    for (QString &l : lines)
        if (l.endsWith(QLatin1Char('\r'))) l.chop(1);

    const auto refuse = [&](const QString &why) {
        result.error =
            QStringLiteral("%1 n'est pas un journal de pelmora reconnu : %2").arg(name, why);
        return result;
    };
    if (content.isEmpty()) return refuse(QStringLiteral("le fichier est vide."));
    const std::optional<LogKind> kind = recogniseHeader(lines.first());
    if (!kind)
        return refuse(QStringLiteral("sa première ligne n'est l'en-tête d'aucun journal de "
                                     "charge, de décharge, de mesure de capacité ou de moniteur."));

    RunLog log;
    log.kind = *kind;
    log.columns = columnsOf(*kind);
    log.values.assign(log.columns.size(), {});
    const QChar sep = *kind == LogKind::Monitor ? QLatin1Char(',') : QLatin1Char(':');
    const int timeColumn = *kind == LogKind::Monitor ? 2 : 0;

    // Every line the program writes ends with CR LF: a last line without it was being
    // written when the program stopped, and is left out.
    qsizetype last = lines.size() - 1;
    if (lines.size() > 1 && !lines.last().isEmpty()) {
        log.lastLineCut = true;
        --last;
    }
    QChar decimalSeen;
    double base = 0, previousRaw = 0, lastElapsed = 0;
    bool first = true;
    for (qsizetype i = 1; i <= last; ++i) {
        const QString &line = lines[i];
        if (line.trimmed().isEmpty()) continue;
        if (*kind == LogKind::Capacity) {
            if (line.startsWith(QLatin1Char('*'))) continue; // the end of the logged discharge
            if (line.startsWith(QLatin1Char('='))) {
                log.processEnded = true;
                continue;
            }
        }
        const QStringList fields = line.split(sep);
        const auto bad = [&](const QString &why) {
            result.error = QStringLiteral("%1, ligne %2 : %3").arg(name).arg(i + 1).arg(why);
            return result;
        };
        if (fields.size() != qsizetype(log.columns.size()))
            return bad(QStringLiteral("%1 valeurs au lieu de %2.")
                           .arg(fields.size())
                           .arg(log.columns.size()));
        for (size_t c = 0; c < log.columns.size(); ++c) {
            std::optional<double> v;
            if (log.columns[c].numeric) {
                if (!parseNumber(fields[qsizetype(c)], v, decimalSeen))
                    return bad(QStringLiteral("valeur illisible « %1 » dans la colonne %2.")
                                   .arg(fields[qsizetype(c)].trimmed(), log.columns[c].name));
            } else if (c == 0) {
                log.prompts << fields[0];
            }
            log.values[c].push_back(v);
        }
        const std::optional<double> raw = log.values[size_t(timeColumn)].back();
        if (!raw)
            return bad(QStringLiteral("la colonne %1 est vide.")
                           .arg(log.columns[size_t(timeColumn)].name));
        if (first) {
            // The charge, discharge and capacity logs count from the run's start; the monitor
            // logs the charger's clock, so its first record is the start.
            base = *kind == LogKind::Monitor ? *raw : 0;
            first = false;
        } else if (*raw < previousRaw) {
            base = -lastElapsed; // time counted again from 0: go on from the last point
        }
        previousRaw = *raw;
        // Never backwards, whatever the log holds.
        lastElapsed = std::max(lastElapsed, *raw - base);
        log.elapsed.push_back(lastElapsed);
    }
    if (!decimalSeen.isNull()) log.decimalPoint = decimalSeen;
    result.log = std::move(log);
    return result;
}

ReadResult readRunLogFile(const QString &path) {
    ReadResult result;
    QFile file(path);
    const QString name = QFileInfo(path).fileName();
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("Impossible de lire %1 : %2").arg(name, file.errorString());
        return result;
    }
    // The longest run logs (days at one record a second) stay well under this; anything
    // larger is not one of them.
    constexpr qint64 kMaxBytes = qint64(512) * 1024 * 1024;
    if (file.size() > kMaxBytes) {
        result.error = QStringLiteral("%1 est trop grand pour un journal de pelmora.").arg(name);
        return result;
    }
    result = parseRunLog(file.readAll(), name);
    if (result.log) {
        result.log->path = QFileInfo(path).absoluteFilePath();
        result.log->info = modes::readRunInfo(path);
    }
    return result;
}

namespace {
std::optional<double> maxOf(const RunLog &log, const char *column) {
    const int c = log.columnIndex(QLatin1String(column));
    if (c < 0) return std::nullopt;
    std::optional<double> m;
    for (const auto &v : log.values[size_t(c)])
        if (v && (!m || *v > *m)) m = v;
    return m;
}

std::optional<double> medianPositive(const RunLog &log, const char *column) {
    const int c = log.columnIndex(QLatin1String(column));
    if (c < 0) return std::nullopt;
    std::vector<double> v;
    for (const auto &x : log.values[size_t(c)])
        if (x && *x > 0) v.push_back(*x);
    if (v.empty()) return std::nullopt;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
} // namespace

RunSummary summarise(const RunLog &log) {
    RunSummary s;
    s.duration = log.elapsed.empty() ? 0 : log.elapsed.back();
    switch (log.kind) {
    case LogKind::Charge:
    case LogKind::Discharge:
        s.capacityMah = maxOf(log, "CAPACITE");
        s.peakVoltage = maxOf(log, "VBAT");
        s.maxTemperature = maxOf(log, "TEMPER");
        break;
    case LogKind::Capacity:
        // The capacity measured is what the logged discharge took out, in mAh as the
        // window shows it ("D 1000mAh" for 3600 A·s).
        if (const auto as = maxOf(log, "TOTALDECHARGE"))
            s.capacityMah = modes::capa::milliampHours(*as);
        s.peakVoltage = maxOf(log, "VBAT");
        s.maxTemperature = maxOf(log, "TEMPER");
        // The resistance is measured every 15th step of the discharge and carried along in
        // between: the median of the values measured, zero meaning none yet.
        s.resistance = medianPositive(log, "RESISTANCE");
        if (log.processEnded) s.endReason = QStringLiteral("Fin du Processus");
        break;
    case LogKind::Monitor:
        s.raw = true;
        s.peakVoltage = maxOf(log, "VBat");
        s.maxTemperature = maxOf(log, "Temper");
        break;
    }
    if (log.info && !log.info->endReason.isEmpty()) s.endReason = log.info->endReason;
    return s;
}

} // namespace viewer
