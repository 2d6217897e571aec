#pragma once

// Helpers for tests that run the built programs: chargersim on a pseudo-terminal and sparlo.

#include <QDir>
#include <QProcess>
#include <QString>

#include "hexfiles.h"

inline QString builtProgram(const QString &relative) {
    return QDir(QString::fromLocal8Bit(qgetenv("PELMORA_BIN_DIR"))).filePath(relative);
}

// chargersim running with the given options; device() is its pseudo-terminal.
class ChargerSim {
  public:
    explicit ChargerSim(const QStringList &options) {
        m_proc.setProgram(builtProgram(QStringLiteral("sim/chargersim")));
        m_proc.setArguments(options);
        m_proc.start();
        if (m_proc.waitForStarted(5000) && m_proc.waitForReadyRead(5000))
            m_device = QString::fromLocal8Bit(m_proc.readLine()).trimmed();
    }
    ~ChargerSim() {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();
            if (!m_proc.waitForFinished(3000)) m_proc.kill();
            m_proc.waitForFinished(1000);
        }
    }
    QString device() const { return m_device; }

  private:
    QProcess m_proc;
    QString m_device;
};

struct Run {
    int exitCode = -1;
    bool finished = false;
    QString out, err;
};

inline Run runSparlo(const QStringList &args, const QByteArray &input = QByteArray(),
                     int timeoutMs = 30000) {
    QProcess p;
    p.setProgram(builtProgram(QStringLiteral("loader/sparlo")));
    p.setArguments(args);
    p.start();
    Run r;
    if (!p.waitForStarted(5000)) return r;
    if (!input.isNull()) {
        p.write(input);
        p.closeWriteChannel();
    } else {
        p.closeWriteChannel();
    }
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(1000);
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
