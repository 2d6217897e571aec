#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace serialio {

// Which device stands behind "COM n" (1..ports). On Windows it is COMn. Elsewhere a device
// given with --com N=DEVICE (remembered for later runs when asked), else the system's
// serial ports in name order (serialDevices()).
class ComMap {
  public:
    // ports: how many COM numbers the program offers; settingsFile: where remembered
    // mappings live (empty keeps nothing between runs).
    explicit ComMap(int ports, const QString &settingsFile = QString());
    int ports() const { return m_ports; }

    QString device(int n) const;
    void set(int n, const QString &device, bool remember);
    // Parses "N=DEVICE" (N in 1..ports); false with a reason when malformed.
    bool parseAndSet(const QString &text, bool remember, QString *error = nullptr);

    // Replaces the system's list (tests).
    void setSystemPorts(const QStringList &ports) {
        m_system = ports;
        m_systemSet = true;
    }
    // The devices serialDevices() lists, in its order.
    static QStringList systemPorts();

  private:
    int m_ports;
    QString m_file;
    QMap<int, QString> m_overrides;
    QStringList m_system;
    bool m_systemSet = false;
};

} // namespace serialio
