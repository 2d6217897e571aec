// What the user is told when a serial port will not open: one text per kind of failure,
// whatever the system's own wording.
#include "serial/openfailure.h"

#include <QTest>

using serialio::DeviceFacts;

class TstPortMessages : public QObject {
    Q_OBJECT
  private slots:
    void openFailureText_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("charDevice");
        QTest::addColumn<bool>("accessible");
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        const QString dev = QStringLiteral("/dev/ttyUSB0 : ");
        const auto row = [&](const char *name, bool e, bool c, bool a, const char *g,
                             QSerialPort::SerialPortError err, const QString &text) {
            QTest::newRow(name) << e << c << a << QString::fromLatin1(g) << int(err) << dev + text;
        };
        row("missing", false, false, false, "", QSerialPort::DeviceNotFoundError,
            QStringLiteral("périphérique introuvable (débranché ?)"));
        row("a directory", true, false, true, "root", QSerialPort::UnknownError,
            QStringLiteral("n'est pas un port série"));
        row("not a terminal", true, true, true, "root", QSerialPort::UnsupportedOperationError,
            QStringLiteral("n'est pas un port série"));
        const QString notInGroup =
            QStringLiteral("accès refusé : l'utilisateur n'est pas dans le groupe %1.\n"
                           "Pour l'y ajouter : sudo usermod -aG %1 $USER\n"
                           "puis fermer la session et se reconnecter.");
        row("not allowed, dialout", true, true, false, "dialout", QSerialPort::PermissionError,
            notInGroup.arg(QStringLiteral("dialout")));
        row("not allowed, root's group", true, true, false, "root", QSerialPort::PermissionError,
            QStringLiteral("accès refusé à cet utilisateur"));
        row("busy", true, true, true, "dialout", QSerialPort::PermissionError,
            QStringLiteral("port occupé par un autre programme"));
        row("locked", true, true, true, "dialout", QSerialPort::OpenError,
            QStringLiteral("port occupé par un autre programme"));
        row("something else", true, true, true, "dialout", QSerialPort::ResourceError,
            QStringLiteral("ouverture impossible (Input/output error)"));
    }
    void openFailureText() {
        QFETCH(bool, exists);
        QFETCH(bool, charDevice);
        QFETCH(bool, accessible);
        QFETCH(QString, group);
        QFETCH(int, error);
        QFETCH(QString, text);
        DeviceFacts f;
        f.exists = exists;
        f.charDevice = charDevice;
        f.accessible = accessible;
        f.group = group;
        QCOMPARE(serialio::openFailureText(QStringLiteral("/dev/ttyUSB0"), f,
                                           QSerialPort::SerialPortError(error),
                                           QStringLiteral("Input/output error")),
                 text);
    }
};

QTEST_GUILESS_MAIN(TstPortMessages)
#include "tst_portmessages.moc"
