#pragma once

#include <QMap>
#include <QString>

namespace chlink {

// Which device stands behind "COM n". On Windows it is COMn. Elsewhere a mapping given
// on the command line (--com N=DEVICE, remembered in the user's settings), else the
// system's serial ports in name order.
class PortMap {
  public:
    explicit PortMap(const QString &settingsApp);

    QString device(int n) const;
    // remember: keep it in the user's settings for the next runs.
    void set(int n, const QString &device, bool remember);
    // Parses "N=DEVICE"; false when malformed.
    bool parseAndSet(const QString &spec, bool remember, QString *error = nullptr);

    // The system's serial ports in name order (on Linux also pseudo-terminals are not listed).
    static QStringList systemPorts();

  private:
    QString m_app;
    QMap<int, QString> m_overrides;
};

} // namespace chlink
