#pragma once

#include "runlogfile.h"

#include <QByteArray>
#include <QChar>
#include <QLocale>
#include <QString>

// A run's data as a CSV file that a spreadsheet opens as it is: the units in the column
// titles, the separator and the decimal point the user's spreadsheet expects, UTF-8 with a
// byte order mark so that accents and units read right.
namespace viewer {

struct CsvFormat {
    QChar separator = QLatin1Char(',');
    QChar decimalPoint = QLatin1Char('.');
};

// ';' and ',' where the locale writes decimals with a comma (French), ',' and '.' elsewhere.
CsvFormat defaultCsvFormat(const QLocale &locale);
// Why the format cannot be used (the separator is the decimal point), empty when it can.
QString checkFormat(const CsvFormat &format);

// A number with up to 15 significant digits, never in exponent form, with the given point.
QString csvNumber(double v, QChar decimalPoint);

// The file's bytes: the elapsed time first ("Temps écoulé (s)"), then every column of the
// log with its unit; an empty field for a value the log left empty. Lines end in CR LF.
QByteArray csvText(const RunLog &log, const CsvFormat &format);

// Writes the file whole or not at all. An existing file is replaced only when
// `replaceExisting` says the user agreed; otherwise the write is refused.
bool writeCsv(const QString &path, const RunLog &log, const CsvFormat &format, bool replaceExisting,
              QString *error);

} // namespace viewer
