#pragma once

#include "modes/runinfo.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// Reading the run logs the program writes (charge, discharge, capacity, monitor), whatever
// decimal separator they were written with, into columns of numbers on one elapsed-time
// axis, and what a run amounts to (duration, capacity, peak voltage, temperature, end).
// Plain code: no widget.
namespace viewer {

enum class LogKind { Charge, Discharge, Capacity, Monitor };

// "Charge", "Décharge", "Mesure de capacité", "Moniteur".
QString kindName(LogKind kind);

// A column of a log: its name in the header and its unit ("V", "A", "°C", "mAh", "A·s",
// "mΩ", "s", "j"), "brut" for a converter count or a value sent as is, empty for a state or
// a text.
struct ColumnInfo {
    QString name;
    QString unit;
    bool numeric = true; // false: the monitor's prompt character and its "=" column
    bool plottable = true;
    // "VBAT (V)", "DVFLAG": the title of a chart axis or a CSV column.
    QString title() const;
};

struct RunLog {
    QString path;
    LogKind kind = LogKind::Charge;
    std::vector<ColumnInfo> columns;
    // Seconds since the run began, one per record. A log whose time starts again (each
    // phase of a capacity measurement counts from 0, the charger clock passes midnight in a
    // monitor log) goes on from where it was, so that time always moves forward.
    std::vector<double> elapsed;
    // values[column][record]; nothing for a field left empty (a value never computed) and
    // for the monitor's text columns.
    std::vector<std::vector<std::optional<double>>> values;
    // The monitor's prompt character of each record.
    QStringList prompts;
    // The decimal separator the numbers were written with ('.' when no number showed one).
    QChar decimalPoint = QLatin1Char('.');
    // Capacity logs: the closing line of equals signs was written (the process ran to its end).
    bool processEnded = false;
    // The last line was cut short (the program stopped while writing it) and was left out.
    bool lastLineCut = false;
    // What the sidecar file adds, when there is one.
    std::optional<modes::RunInfo> info;
    // When the run began: the sidecar's time, else the one in the log's name.
    QDateTime start() const;

    int columnIndex(const QString &name) const;
    std::size_t records() const { return elapsed.size(); }
};

struct ReadResult {
    std::optional<RunLog> log;
    QString error; // in French, for the user, when log is empty
};

// The kind of log whose header line this is; nothing for anything else.
std::optional<LogKind> recogniseHeader(const QString &headerLine);
// The columns of each kind, in record order.
std::vector<ColumnInfo> columnsOf(LogKind kind);

// The start the program put in a log's name ("St_CH_D12_09_26T10_15.txt": 9 December 2026
// at 10:15, to the minute; a "_2" after it for a second log of that minute); nothing for
// another name.
QDateTime startFromName(const QString &fileName);

// Parses a log's content. `name` only goes into messages.
ReadResult parseRunLog(const QByteArray &content, const QString &name);
// Reads a log file and its sidecar.
ReadResult readRunLogFile(const QString &path);

// What a run amounts to. Values the log cannot give stay empty.
struct RunSummary {
    double duration = 0;                  // seconds
    std::optional<double> capacityMah;    // charged, discharged, or measured (capacity)
    std::optional<double> peakVoltage;    // volts (a count for a monitor log: see raw)
    std::optional<double> maxTemperature; // °C (a count for a monitor log)
    std::optional<double> resistance;     // mΩ, capacity logs only
    QString endReason;
    bool raw = false; // the monitor's values are counts as the charger sent them
};
RunSummary summarise(const RunLog &log);

} // namespace viewer
