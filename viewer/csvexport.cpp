#include "csvexport.h"

#include "link/numtext.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace viewer {

CsvFormat defaultCsvFormat(const QLocale &locale) {
    if (locale.decimalPoint() == QLatin1String(",")) return {QLatin1Char(';'), QLatin1Char(',')};
    return {QLatin1Char(','), QLatin1Char('.')};
}

QString checkFormat(const CsvFormat &format) {
    if (format.separator == format.decimalPoint)
        return QStringLiteral("Le séparateur de colonnes ne peut pas être aussi le séparateur "
                              "décimal.");
    if (format.decimalPoint != QLatin1Char('.') && format.decimalPoint != QLatin1Char(','))
        return QStringLiteral("Le séparateur décimal doit être « . » ou « , ».");
    return {};
}

QString csvNumber(double v, QChar decimalPoint) {
    QString t = chlink::fixedText(v, 15);
    if (decimalPoint != QLatin1Char('.')) t.replace(QLatin1Char('.'), decimalPoint);
    return t;
}

namespace {
QString quoted(const QString &field, QChar separator) {
    if (!field.contains(separator) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString f = field;
    f.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + f + QLatin1Char('"');
}
} // namespace

QByteArray csvText(const RunLog &log, const CsvFormat &format) {
    // The monitor's "=" column holds nothing.
    std::vector<size_t> cols;
    for (size_t c = 0; c < log.columns.size(); ++c)
        if (log.columns[c].numeric || c == 0) cols.push_back(c);

    QString out;
    QStringList titles{QStringLiteral("Temps écoulé (s)")};
    for (size_t c : cols)
        titles << quoted(log.columns[c].title(), format.separator);
    out += titles.join(format.separator) + QStringLiteral("\r\n");
    for (size_t r = 0; r < log.records(); ++r) {
        QStringList fields{csvNumber(log.elapsed[r], format.decimalPoint)};
        for (size_t c : cols) {
            if (!log.columns[c].numeric) {
                fields << quoted(r < size_t(log.prompts.size()) ? log.prompts[qsizetype(r)]
                                                                : QString(),
                                 format.separator);
                continue;
            }
            const auto &v = log.values[c][r];
            fields << (v ? csvNumber(*v, format.decimalPoint) : QString());
        }
        out += fields.join(format.separator) + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

bool writeCsv(const QString &path, const RunLog &log, const CsvFormat &format, bool replaceExisting,
              QString *error) {
    const auto fail = [error](const QString &why) {
        if (error) *error = why;
        return false;
    };
    if (const QString bad = checkFormat(format); !bad.isEmpty()) return fail(bad);
    if (!replaceExisting && QFileInfo::exists(path))
        return fail(
            QStringLiteral("Le fichier %1 existe déjà.").arg(QDir::toNativeSeparators(path)));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
    const QByteArray bytes = csvText(log, format);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return fail(file.errorString());
    }
    if (!file.commit()) return fail(file.errorString());
    return true;
}

} // namespace viewer
