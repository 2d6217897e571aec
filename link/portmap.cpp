#include "portmap.h"

#include <QSerialPortInfo>
#include <QSettings>

namespace chlink {

PortMap::PortMap(const QString &settingsApp) : m_app(settingsApp) {
    QSettings s(QStringLiteral("pelmora"), m_app);
    s.beginGroup(QStringLiteral("ports"));
    for (const QString &key : s.childKeys()) {
        bool ok = false;
        const int n = key.mid(3).toInt(&ok); // "com3"
        if (ok && n > 0) m_overrides[n] = s.value(key).toString();
    }
}

QString PortMap::device(int n) const {
    if (m_overrides.contains(n)) return m_overrides.value(n);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    const QStringList ports = systemPorts();
    if (n >= 1 && n <= ports.size()) return ports.at(n - 1);
    return QString();
#endif
}

void PortMap::set(int n, const QString &device, bool remember) {
    m_overrides[n] = device;
    if (remember) {
        QSettings s(QStringLiteral("pelmora"), m_app);
        s.setValue(QStringLiteral("ports/com%1").arg(n), device);
    }
}

bool PortMap::parseAndSet(const QString &spec, bool remember, QString *error) {
    const int eq = spec.indexOf(QLatin1Char('='));
    bool ok = false;
    const int n = eq > 0 ? spec.left(eq).trimmed().toInt(&ok) : 0;
    const QString dev = eq > 0 ? spec.mid(eq + 1).trimmed() : QString();
    if (!ok || n < 1 || n > 99 || dev.isEmpty()) {
        if (error)
            *error = QStringLiteral("--com expects N=DEVICE, for example 1=/dev/ttyUSB0, not '%1'")
                         .arg(spec);
        return false;
    }
    set(n, dev, remember);
    return true;
}

QStringList PortMap::systemPorts() {
    QStringList names;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names << info.systemLocation();
    names.sort();
    return names;
}

} // namespace chlink
