#include "packhistory.h"

#include "modes/runinfo.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace viewer {

namespace {
// The logs with a sidecar in the folders, and what the sidecar says.
template <class F> void forEachRun(const QStringList &folders, F &&f) {
    QStringList seen;
    for (const QString &folder : folders) {
        const QString abs = QDir(folder).absolutePath();
        if (seen.contains(abs)) continue;
        seen << abs;
        const QDir dir(abs);
        for (const QString &name :
             dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name)) {
            const QString log = dir.filePath(name);
            if (const auto info = modes::readRunInfo(log)) f(log, *info);
        }
    }
}

bool samePack(const QString &a, const QString &b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}
} // namespace

QStringList packNames(const QStringList &folders) {
    QStringList names;
    forEachRun(folders, [&names](const QString &, const modes::RunInfo &info) {
        const QString p = info.pack.trimmed();
        if (p.isEmpty()) return;
        for (const QString &n : names)
            if (samePack(n, p)) return;
        names << p;
    });
    names.sort(Qt::CaseInsensitive);
    return names;
}

std::vector<PackRun> packHistory(const QStringList &folders, const QString &pack) {
    std::vector<PackRun> runs;
    if (pack.trimmed().isEmpty()) return runs;
    forEachRun(folders, [&](const QString &path, const modes::RunInfo &info) {
        if (!samePack(info.pack, pack)) return;
        const ReadResult read = readRunLogFile(path);
        if (!read.log) return;
        const RunSummary s = summarise(*read.log);
        PackRun run;
        run.path = read.log->path;
        run.start = read.log->start();
        if (!run.start.isValid()) run.start = QFileInfo(path).lastModified();
        run.kind = read.log->kind;
        run.duration = s.duration;
        if (!s.raw) run.capacityMah = s.capacityMah;
        run.resistance = s.resistance;
        runs.push_back(run);
    });
    std::stable_sort(runs.begin(), runs.end(),
                     [](const PackRun &a, const PackRun &b) { return a.start < b.start; });
    return runs;
}

bool setPack(const QString &logPath, const QString &pack, QString *error) {
    modes::RunInfo info = modes::readRunInfo(logPath).value_or(modes::RunInfo{});
    info.pack = pack.trimmed();
    return modes::writeRunInfo(logPath, info, error);
}

} // namespace viewer
