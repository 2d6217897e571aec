#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// What a run log does not say about its run, kept in a small file next to it: the log
// "St_CH_D12_07_26T09_05.txt" has "St_CH_D12_07_26T09_05.run". The log's own format stays
// as it is; the log viewer reads this file to label runs and to list a pack's history.
namespace modes {

struct RunInfo {
    QDateTime start;   // when the run started (local time)
    QString version;   // the program's version
    QString window;    // the window or command that ran it: "Chargeur", "Dechargeur", ...
    QString setpoint;  // the setting the run was made with, as shown: "2.00 A"
    int cells = 0;     // number of cells, 0 when not known
    QString chemistry; // "NiMH", "NiCd", ... empty when not known
    QString port;      // the serial device
    QString endReason; // why the run ended, empty while it goes on
    QString pack;      // the user's name for the battery pack, empty until named
};

// The sidecar's file name for a log file.
QString runInfoPath(const QString &logPath);

// Writes the sidecar of `logPath` (replaced as a whole, never left half written). False,
// with the reason, when the system refuses.
bool writeRunInfo(const QString &logPath, const RunInfo &info, QString *error = nullptr);

// The sidecar of `logPath`; nothing when there is none or it cannot be read. Unknown keys
// are ignored and missing ones stay empty, so older and newer sidecars both read.
std::optional<RunInfo> readRunInfo(const QString &logPath);

} // namespace modes
