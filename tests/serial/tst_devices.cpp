// The serial devices the system lists, as the command line and the boxes show them, and the
// default COM numbers taken from them.
#include "serial/commap.h"
#include "serial/devices.h"

#include <QTemporaryDir>
#include <QTest>

using serialio::SerialDevice;

Q_DECLARE_METATYPE(SerialDevice)

namespace {

SerialDevice usb(const QString &dev, const QString &desc = QStringLiteral("FT232R USB UART"),
                 const QString &ids = QStringLiteral("0403:6001")) {
    return {dev, desc, QStringLiteral("FTDI"), QStringLiteral("A50285BI"), ids};
}
SerialDevice plain(const QString &dev) {
    return {dev, {}, {}, {}, {}};
}

// The system's list replaced for one test.
struct FakeDevices {
    explicit FakeDevices(QList<SerialDevice> list) {
        serialio::setDeviceLister([list] { return list; });
    }
    ~FakeDevices() { serialio::setDeviceLister({}); }
};

} // namespace

class TstDevices : public QObject {
    Q_OBJECT
  private slots:
    void deviceLine_data() {
        QTest::addColumn<SerialDevice>("device");
        QTest::addColumn<QString>("line");
        QTest::newRow("usb adapter") << usb(QStringLiteral("/dev/ttyUSB0"))
                                     << QStringLiteral("/dev/ttyUSB0  FT232R USB UART (0403:6001)");
        QTest::newRow("built-in port, nothing known")
            << plain(QStringLiteral("/dev/ttyS0")) << QStringLiteral("/dev/ttyS0");
        QTest::newRow("ids without description")
            << usb(QStringLiteral("/dev/ttyACM0"), QString(), QStringLiteral("2341:0043"))
            << QStringLiteral("/dev/ttyACM0  FTDI (2341:0043)");
        SerialDevice anon{QStringLiteral("/dev/ttyACM1"), {}, {}, {}, QStringLiteral("1a86:7523")};
        QTest::newRow("ids only") << anon << QStringLiteral("/dev/ttyACM1  (1a86:7523)");
        SerialDevice named{QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), {}, {}, {}};
        QTest::newRow("description without ids")
            << named << QStringLiteral("COM3  USB Serial Port");
        // What the system says goes on one line whatever it holds.
        SerialDevice odd{QStringLiteral("/dev/ttyUSB1"),
                         QStringLiteral("Two\nlines\t here "),
                         {},
                         {},
                         QStringLiteral("0403:6015")};
        QTest::newRow("line breaks in the description")
            << odd << QStringLiteral("/dev/ttyUSB1  Two lines here (0403:6015)");
    }
    void deviceLine() {
        QFETCH(SerialDevice, device);
        QFETCH(QString, line);
        QCOMPARE(serialio::deviceLine(device), line);
    }

    void describePorts_data() {
        QTest::addColumn<QList<SerialDevice>>("devices");
        QTest::addColumn<QStringList>("mappings"); // N=DEVICE given on the command line
        QTest::addColumn<QString>("text");
        const QList<SerialDevice> two{usb(QStringLiteral("/dev/ttyUSB0")),
                                      plain(QStringLiteral("/dev/ttyS0"))};
        QTest::newRow("system order") << two << QStringList()
                                      << QStringLiteral("COM 1  /dev/ttyS0\n"
                                                        "COM 2  /dev/ttyUSB0  FT232R USB UART "
                                                        "(0403:6001)\n"
                                                        "COM 3  (no device)\n"
                                                        "COM 4  (no device)\n"
                                                        "\n"
                                                        "Serial devices found:\n"
                                                        "  /dev/ttyS0\n"
                                                        "  /dev/ttyUSB0  FT232R USB UART "
                                                        "(0403:6001)\n");
        QTest::newRow("mapped, one not listed")
            << two << QStringList{QStringLiteral("1=/dev/ttyUSB0"), QStringLiteral("3=/dev/pts/4")}
            << QStringLiteral("COM 1  /dev/ttyUSB0  FT232R USB UART (0403:6001)\n"
                              "COM 2  /dev/ttyUSB0  FT232R USB UART (0403:6001)\n"
                              "COM 3  /dev/pts/4  (not among the devices found)\n"
                              "COM 4  (no device)\n"
                              "\n"
                              "Serial devices found:\n"
                              "  /dev/ttyS0\n"
                              "  /dev/ttyUSB0  FT232R USB UART (0403:6001)\n");
        QTest::newRow("nothing found")
            << QList<SerialDevice>() << QStringList{QStringLiteral("2=/dev/ttyUSB3")}
            << QStringLiteral("COM 1  (no device)\n"
                              "COM 2  /dev/ttyUSB3  (not among the devices found)\n"
                              "COM 3  (no device)\n"
                              "COM 4  (no device)\n"
                              "\n"
                              "No serial device found.\n");
    }
    void describePorts() {
        QFETCH(QList<SerialDevice>, devices);
        QFETCH(QStringList, mappings);
        QFETCH(QString, text);
        const FakeDevices fake(devices);
        const QList<SerialDevice> found = serialio::serialDevices();
        serialio::ComMap map(4);
        for (const QString &m : mappings)
            QVERIFY(map.parseAndSet(m, false));
        QCOMPARE(serialio::describePorts(map, found), text);
    }

    // Devices come in name order with numbers compared as numbers, whatever order the
    // system gives; the COM numbers follow it.
    void nameOrder_data() {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QStringList>("ordered");
        QTest::newRow("numbers as numbers")
            << QStringList{"/dev/ttyS10", "/dev/ttyS2", "/dev/ttyS1"}
            << QStringList{"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10"};
        QTest::newRow("kinds by name")
            << QStringList{"/dev/ttyUSB0", "/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyACM0"}
            << QStringList{"/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyUSB0"};
        QTest::newRow("windows names")
            << QStringList{"COM12", "COM3", "COM1"} << QStringList{"COM1", "COM3", "COM12"};
        QTest::newRow("leading zeros, prefixes")
            << QStringList{"/dev/tty01", "/dev/tty1", "/dev/tty", "/dev/tty001a"}
            << QStringList{"/dev/tty", "/dev/tty1", "/dev/tty01", "/dev/tty001a"};
        QTest::newRow("long numbers")
            << QStringList{"/dev/x123456789012345678901", "/dev/x99999999999999999999"}
            << QStringList{"/dev/x99999999999999999999", "/dev/x123456789012345678901"};
    }
    void nameOrder() {
        QFETCH(QStringList, given);
        QFETCH(QStringList, ordered);
        QList<SerialDevice> list;
        for (const QString &d : given)
            list << plain(d);
        const FakeDevices fake(list);
        QStringList got;
        for (const SerialDevice &d : serialio::serialDevices())
            got << d.device;
        QCOMPARE(got, ordered);
        QCOMPARE(serialio::ComMap::systemPorts(), ordered);
        serialio::ComMap map(4);
        QCOMPARE(map.device(1), ordered.first());
        for (const QString &a : ordered) // a strict order: never a < a
            QVERIFY(!serialio::deviceNameLess(a, a));
    }

    // A mapping remembered in the settings file wins over the system's order in the next
    // run; one not remembered does not outlive its run.
    void rememberedMappingOutlivesTheRun() {
        const FakeDevices fake(
            {plain(QStringLiteral("/dev/ttyS0")), usb(QStringLiteral("/dev/ttyUSB0"))});
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("ports.ini"));
        {
            serialio::ComMap map(4, file);
            QCOMPARE(map.device(1), QStringLiteral("/dev/ttyS0"));
            map.set(1, QStringLiteral("/dev/ttyUSB0"), true);
            map.set(2, QStringLiteral("/dev/pts/7"), false);
        }
        serialio::ComMap next(4, file);
        QCOMPARE(next.device(1), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(next.device(2), QStringLiteral("/dev/ttyUSB0")); // the system's second
    }

    void foundDevicesText_data() {
        QTest::addColumn<QList<SerialDevice>>("devices");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << QList<SerialDevice>()
                              << QStringLiteral("Aucun port série trouvé sur cet ordinateur.");
        QTest::newRow("two") << QList<SerialDevice>{plain(QStringLiteral("/dev/ttyS0")),
                                                    usb(QStringLiteral("/dev/ttyUSB0"))}
                             << QStringLiteral("Ports série trouvés :\n"
                                               "  /dev/ttyS0\n"
                                               "  /dev/ttyUSB0  FT232R USB UART (0403:6001)");
    }
    void foundDevicesText() {
        QFETCH(QList<SerialDevice>, devices);
        QFETCH(QString, text);
        QCOMPARE(serialio::foundDevicesText(devices), text);
    }
};

QTEST_GUILESS_MAIN(TstDevices)
#include "tst_devices.moc"
