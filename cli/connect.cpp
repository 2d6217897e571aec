#include "connect.h"

#include "command.h"
#include "interrupt.h"
#include "link/chargerlink.h"
#include "link/handshake.h"
#include "linksetup.h"
#include "serial/openfailure.h"

#include <QTimer>

namespace cli {

QString openFailureEnglish(const QString &device) {
    if (device.isEmpty())
        return QStringLiteral("COM 1 has no serial device: give one with --port DEVICE or "
                              "--com 1=DEVICE, or try --demo");
    const QString head = device + QStringLiteral(": ");
    const serialio::DeviceFacts f = serialio::deviceFacts(device);
    // The handshake keeps only the port's text: the system's error code is not known here.
    switch (serialio::classifyOpenFailure(f, QSerialPort::UnknownError)) {
    case serialio::OpenFailure::NoDevice:
        return head + QStringLiteral("no such device (unplugged?)");
    case serialio::OpenFailure::NotSerial:
        return head + QStringLiteral("not a serial port");
    case serialio::OpenFailure::Denied:
        if (serialio::groupToJoin(f).isEmpty())
            return head + QStringLiteral("access denied to this user");
        return head + QStringLiteral("access denied: this user is not in the group %1 "
                                     "(sudo usermod -aG %1 $USER, then log in again)")
                          .arg(serialio::groupToJoin(f));
    case serialio::OpenFailure::InUse:
    case serialio::OpenFailure::Other:
        break;
    }
    return head + QStringLiteral("cannot be opened (in use by another program?)");
}

int connectCharger(chlink::ChargerLink &link, const QString &device, int waitMs,
                   Interrupt &interrupt, const QString &prefix, QTextStream &err) {
    link.portNumber = 1;
    link.portSetup();

    // The main window's two timers: the retry tick raises the abort flag (one probe each),
    // the probe tick ends the wait for an answer to a probe.
    QTimer retry, probe;
    retry.setInterval(200);
    probe.setInterval(20);
    QObject::connect(&retry, &QTimer::timeout, &link, [&link] { link.setAbortFlag(1); });
    QObject::connect(&probe, &QTimer::timeout, &link, [&link] { link.setProbeTimeoutFlag(1); });
    chlink::Handshake handshake(link, &retry, &probe);

    bool gaveUp = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &handshake, [&] {
        gaveUp = true;
        handshake.cancel();
    });
    const QMetaObject::Connection onInterrupt =
        QObject::connect(&interrupt, &Interrupt::raised, &handshake, [&] { handshake.cancel(); });
    limit.start(waitMs);
    const chlink::Handshake::Result r =
        interrupt.isRaised() ? chlink::Handshake::Result::Cancelled : handshake.run();
    limit.stop();
    retry.stop();
    probe.stop();
    link.setAbortFlag(0);
    QObject::disconnect(onInterrupt);

    const QString shown =
        device == QLatin1String(kVirtualDevice) ? QStringLiteral("the demo charger") : device;
    switch (r) {
    case chlink::Handshake::Result::Connected:
        return Ok;
    case chlink::Handshake::Result::PortError:
        err << prefix << openFailureEnglish(device) << '\n';
        return NoCharger;
    case chlink::Handshake::Result::Cancelled:
        link.closePort();
        if (interrupt.isRaised() && !gaveUp) {
            err << prefix << "interrupted while connecting\n";
            return Interrupted;
        }
        err << prefix << "no charger answers on " << shown << " (waited " << waitMs / 1000.0
            << " s; is it powered and plugged in? --wait gives it longer)\n";
        return NoCharger;
    case chlink::Handshake::Result::Timeout:
        link.closePort();
        err << prefix << "the charger on " << shown
            << " answered the probe, then stopped answering during the connection\n";
        return TimedOut;
    case chlink::Handshake::Result::PortLost:
        err << prefix << device << ": the serial port was lost while connecting\n";
        return NoCharger;
    }
    return Failure;
}

} // namespace cli
