#include "support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace cli {

int exitFor(chlink::LinkError e) {
    switch (e) {
    case chlink::LinkError::Timeout:
        return TimedOut;
    case chlink::LinkError::PortFailed:
    case chlink::LinkError::NotOpen:
        return NoCharger;
    case chlink::LinkError::Aborted:
        return Interrupted;
    case chlink::LinkError::None:
        break;
    }
    return Failure;
}

QString linkFailureText(chlink::LinkError e) {
    switch (e) {
    case chlink::LinkError::Timeout:
        return QStringLiteral("the charger did not answer within %1 s")
            .arg(chlink::ChargerLink::kReplyTimeoutMs / 1000);
    case chlink::LinkError::PortFailed:
        return QStringLiteral("the serial port was lost (adapter unplugged?)");
    case chlink::LinkError::NotOpen:
        return QStringLiteral("the serial port is closed");
    case chlink::LinkError::Aborted:
        return QStringLiteral("interrupted");
    case chlink::LinkError::None:
        break;
    }
    return QStringLiteral("unexpected answer from the charger");
}

int checkSaveTarget(const QString &path, bool force, const QString &prefix, QTextStream &err) {
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        if (!force) {
            err << prefix << path
                << " already exists; add --force to replace it (nothing was read)\n";
            return Refused;
        }
        if (!info.isFile()) {
            err << prefix << path << " is not a regular file\n";
            return BadFile;
        }
    }
    if (!info.absoluteDir().exists()) {
        err << prefix << "the folder of " << path << " does not exist\n";
        return BadFile;
    }
    return Ok;
}

bool readSmallFile(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *why) {
    const QFileInfo info(path);
    if (!info.exists()) {
        *why = QStringLiteral("no such file");
        return false;
    }
    if (!info.isFile()) {
        *why = QStringLiteral("not a regular file");
        return false;
    }
    if (info.size() > maxBytes) {
        *why = QStringLiteral("too large (more than %1 bytes)").arg(maxBytes);
        return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = f.errorString();
        return false;
    }
    *bytes = f.read(maxBytes + 1);
    if (bytes->size() > maxBytes) {
        *why = QStringLiteral("too large (more than %1 bytes)").arg(maxBytes);
        return false;
    }
    return true;
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

ProgressLine::ProgressLine(QTextStream &err, const QString &what)
    : m_err(err), m_what(what), m_enabled(stderrIsTerminal()) {}

ProgressLine::~ProgressLine() {
    clear();
}

void ProgressLine::show(qint64 done, qint64 total) {
    if (!m_enabled) return;
    if (m_shown && done < total && m_clock.isValid() && m_clock.elapsed() < 200) return;
    m_clock.start();
    m_err << '\r' << m_what << ": " << done << '/' << total << "   " << Qt::flush;
    m_shown = true;
}

void ProgressLine::clear() {
    if (!m_shown) return;
    m_err << "\r\033[K" << Qt::flush;
    m_shown = false;
}

} // namespace cli
