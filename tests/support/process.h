#pragma once

#include <QProcess>
#include <QStringList>

#include <ctime>

// CPU seconds this process has used (to show that a wait does not spin).
inline double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Starts the chargersim program with `args` and returns the pseudo-terminal it prints, or
// an empty string when it did not start.
inline QString startChargersim(QProcess &sim, const QString &program, const QStringList &args) {
    sim.start(program, args);
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) return QString();
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}
