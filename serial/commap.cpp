#include "commap.h"

#include "devices.h"

#include <QSettings>

namespace serialio {

ComMap::ComMap(int ports, const QString &settingsFile) : m_ports(ports), m_file(settingsFile) {
    if (m_file.isEmpty()) return;
    QSettings s(m_file, QSettings::IniFormat);
    s.beginGroup(QStringLiteral("ports"));
    for (const QString &key : s.childKeys()) {
        bool ok = false;
        const int n = key.mid(3).toInt(&ok); // "com3"
        if (ok && n >= 1 && n <= m_ports) m_overrides[n] = s.value(key).toString();
    }
}

QString ComMap::device(int n) const {
    if (m_overrides.contains(n)) return m_overrides.value(n);
#ifdef Q_OS_WIN
    if (!m_systemSet) return QStringLiteral("COM%1").arg(n);
#endif
    const QStringList ports = m_systemSet ? m_system : systemPorts();
    if (n >= 1 && n <= ports.size()) return ports.at(n - 1);
    return QString();
}

void ComMap::set(int n, const QString &device, bool remember) {
    m_overrides[n] = device;
    if (remember && !m_file.isEmpty()) {
        QSettings s(m_file, QSettings::IniFormat);
        s.setValue(QStringLiteral("ports/com%1").arg(n), device);
    }
}

bool ComMap::parseAndSet(const QString &text, bool remember, QString *error) {
    const int eq = text.indexOf(QLatin1Char('='));
    bool ok = false;
    const int n = eq > 0 ? text.left(eq).trimmed().toInt(&ok) : 0;
    const QString dev = eq > 0 ? text.mid(eq + 1).trimmed() : QString();
    if (!ok || n < 1 || n > m_ports || dev.isEmpty()) {
        if (error)
            *error = QStringLiteral("--com expects N=DEVICE with N from 1 to %1, for example "
                                    "1=/dev/ttyUSB0, not '%2'")
                         .arg(m_ports)
                         .arg(text);
        return false;
    }
    set(n, dev, remember);
    return true;
}

QStringList ComMap::systemPorts() {
    QStringList names;
    for (const SerialDevice &d : serialDevices())
        names << d.device;
    return names;
}

} // namespace serialio
