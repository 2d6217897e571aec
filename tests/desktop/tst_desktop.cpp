// The programs' place on the desktop: Qt's own buttons speak French, the icon is there.
#include "desktop/icon.h"
#include "desktop/notify.h"
#include "desktop/qtfrench.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// A notification service of our own on a private session bus.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    QStringList received;
  public slots:
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &, int) {
        received << app + '|' + icon + '|' + summary + '|' + body;
        emit notified();
        return 1;
    }
  signals:
    void notified();
};

class TstDesktop : public QObject {
    Q_OBJECT
  private slots:
    void standardButtonsSpeakFrench_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("text");
        QTest::newRow("yes") << int(QMessageBox::Yes) << "&Oui";
        QTest::newRow("no") << int(QMessageBox::No) << "&Non";
        QTest::newRow("cancel") << int(QMessageBox::Cancel) << "Annuler";
    }
    void standardButtonsSpeakFrench() {
        static const bool loaded = desktop::useQtFrench(*qApp);
        QVERIFY2(loaded, "Qt's French translations are not installed (scripts/setup)");
        QFETCH(int, button);
        QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QTEST(box.button(QMessageBox::StandardButton(button))->text(), "text");
    }

    void notificationReachesTheService() {
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"),
                      QStringLiteral("--print-address=1")});
        QVERIFY2(daemon.waitForReadyRead(5000), "dbus-daemon (scripts/setup) did not start");
        const QString address = QString::fromLatin1(daemon.readLine()).trimmed();
        {
            QDBusConnection service = QDBusConnection::connectToBus(address, "service");
            QDBusConnection program = QDBusConnection::connectToBus(address, "program");
            // Without a service the call goes nowhere and nothing breaks.
            QVERIFY(desktop::notify(QStringLiteral("Chargeur"), QStringLiteral("x"), program));
            FakeNotifications fake;
            QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
            QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                           QDBusConnection::ExportAllSlots));
            QSignalSpy spy(&fake, &FakeNotifications::notified);
            QVERIFY(desktop::notify(QStringLiteral("Chargeur"),
                                    QStringLiteral("Charge Terminée (1250 mAh)"), program));
            QVERIFY(spy.wait(5000));
            QCOMPARE(fake.received, QStringList{qApp->applicationName() +
                                                "|pelmora|Chargeur|Charge Terminée (1250 mAh)"});
        }
        QDBusConnection::disconnectFromBus("service");
        QDBusConnection::disconnectFromBus("program");
        daemon.kill();
        daemon.waitForFinished();
        QVERIFY(!desktop::notify("no bus", "x", QDBusConnection(QStringLiteral("none"))));
    }

    void iconInEverySize() {
        const QIcon icon = desktop::appIcon();
        for (int size : {16, 32, 64, 256})
            QCOMPARE(icon.pixmap(size, size).width(), size);
        QVERIFY(!icon.pixmap(32, 32).toImage().allGray());
    }
};

QTEST_MAIN(TstDesktop)
#include "tst_desktop.moc"
