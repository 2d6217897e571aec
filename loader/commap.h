#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace loader {

// Which device stands behind "COM n" (1..12). On Windows it is COMn. Elsewhere a device
// given with --com N=DEVICE (remembered for later runs when asked), else the system's
// serial ports in name order.
class ComMap {
  public:
    static constexpr int kPorts = 12;

    // settingsFile: where remembered mappings live; empty keeps nothing between runs.
    explicit ComMap(const QString &settingsFile = QString());

    QString device(int n) const;
    void set(int n, const QString &device, bool remember);
    // Parses "N=DEVICE" (N in 1..12); false with a reason when malformed.
    bool parseAndSet(const QString &text, bool remember, QString *error = nullptr);

    // Replaces the system's list (tests).
    void setSystemPorts(const QStringList &ports) {
        m_system = ports;
        m_systemSet = true;
    }
    static QStringList systemPorts();

  private:
    QString m_file;
    QMap<int, QString> m_overrides;
    QStringList m_system;
    bool m_systemSet = false;
};

} // namespace loader
