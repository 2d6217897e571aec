#pragma once

#include "runlogfile.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// The runs of one battery pack, found by the name the user gave the pack in the runs'
// sidecar files: when each ran, and the capacity and internal resistance it showed.
namespace viewer {

struct PackRun {
    QString path;
    QDateTime start;
    LogKind kind = LogKind::Charge;
    double duration = 0;
    std::optional<double> capacityMah;
    std::optional<double> resistance; // mΩ; only the capacity measurement measures it
};

// The pack names given in the sidecars of the logs in `folders`, sorted, each once.
QStringList packNames(const QStringList &folders);

// The runs of `pack` (the name compared without regard to case or surrounding blanks)
// among the logs in `folders`, oldest first. Logs that cannot be read are left out.
std::vector<PackRun> packHistory(const QStringList &folders, const QString &pack);

// Gives the run of `logPath` to `pack` (an empty name takes it out of any pack), keeping
// everything else its sidecar holds; a log without a sidecar gets one.
bool setPack(const QString &logPath, const QString &pack, QString *error);

} // namespace viewer
