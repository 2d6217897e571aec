#include "devices.h"

#include "commap.h"

#include <QSerialPortInfo>
#include <algorithm>

namespace serialio {

namespace {

DeviceLister &lister() {
    static DeviceLister l;
    return l;
}

QList<SerialDevice> systemDevices() {
    QList<SerialDevice> list;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialDevice d;
        d.device = info.systemLocation();
        d.description = info.description();
        d.manufacturer = info.manufacturer();
        d.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            d.usbIds = QStringLiteral("%1:%2")
                           .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                           .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        list << d;
    }
    return list;
}

// The system's strings go on one line of a table or a box: no line breaks, no control
// characters.
QString oneLine(const QString &s) {
    QString out = s;
    for (QChar &c : out)
        if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
    return out.simplified();
}

const SerialDevice *findDevice(const QList<SerialDevice> &devices, const QString &name) {
    for (const SerialDevice &d : devices)
        if (d.device == name) return &d;
    return nullptr;
}

// ASCII digits only: they sit together among the characters, so numbers and the characters
// around them keep one consistent order (a sort needs one).
bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

bool deviceNameLess(const QString &a, const QString &b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a.at(i)) && isDigit(b.at(j))) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && isDigit(a.at(ei)))
                ++ei;
            while (ej < b.size() && isDigit(b.at(ej)))
                ++ej;
            // Compare the runs as numbers of any length: skip leading zeros, then the
            // longer run is the larger number, then digit by digit.
            qsizetype zi = i, zj = j;
            while (zi < ei - 1 && a.at(zi) == QLatin1Char('0'))
                ++zi;
            while (zj < ej - 1 && b.at(zj) == QLatin1Char('0'))
                ++zj;
            if (ei - zi != ej - zj) return ei - zi < ej - zj;
            const int c =
                QStringView(a).sliced(zi, ei - zi).compare(QStringView(b).sliced(zj, ej - zj));
            if (c != 0) return c < 0;
            if (ei - i != ej - j) return ei - i < ej - j; // "01" after "1"
            i = ei;
            j = ej;
            continue;
        }
        if (a.at(i) != b.at(j)) return a.at(i) < b.at(j);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

QList<SerialDevice> serialDevices() {
    QList<SerialDevice> list = lister() ? lister()() : systemDevices();
    std::stable_sort(list.begin(), list.end(), [](const SerialDevice &x, const SerialDevice &y) {
        return deviceNameLess(x.device, y.device);
    });
    return list;
}

void setDeviceLister(DeviceLister l) {
    lister() = std::move(l);
}

QString deviceLine(const SerialDevice &d) {
    QString line = oneLine(d.device);
    QString about = oneLine(d.description);
    if (about.isEmpty()) about = oneLine(d.manufacturer);
    const QString ids = oneLine(d.usbIds);
    if (!about.isEmpty() || !ids.isEmpty()) line += QStringLiteral("  ");
    line += about;
    if (!ids.isEmpty())
        line +=
            (about.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("(%1)").arg(ids);
    return line;
}

QString describePorts(const ComMap &map, const QList<SerialDevice> &devices) {
    QString text;
    for (int n = 1; n <= map.ports(); ++n) {
        const QString dev = map.device(n);
        text += QStringLiteral("COM %1  ").arg(n);
        if (dev.isEmpty())
            text += QStringLiteral("(no device)");
        else if (const SerialDevice *d = findDevice(devices, dev))
            text += deviceLine(*d);
        else
            text += oneLine(dev) + QStringLiteral("  (not among the devices found)");
        text += QLatin1Char('\n');
    }
    text += QLatin1Char('\n');
    if (devices.isEmpty()) return text + QStringLiteral("No serial device found.\n");
    text += QStringLiteral("Serial devices found:\n");
    for (const SerialDevice &d : devices)
        text += QStringLiteral("  ") + deviceLine(d) + QLatin1Char('\n');
    return text;
}

QString foundDevicesText(const QList<SerialDevice> &devices) {
    if (devices.isEmpty()) return QStringLiteral("Aucun port série trouvé sur cet ordinateur.");
    QString text = QStringLiteral("Ports série trouvés :");
    for (const SerialDevice &d : devices)
        text += QStringLiteral("\n  ") + deviceLine(d);
    return text;
}

QString withFoundDevices(const QString &reason) {
    return reason + QStringLiteral("\n\n") + foundDevicesText(serialDevices());
}

} // namespace serialio
