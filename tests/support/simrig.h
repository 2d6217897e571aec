#pragma once

#include "riglink.h"
#include "sim/ptyserver.h"
#include "sim/virtualcharger.h"
#include "winkit/host.h"

#include <QDebug>
#include <QWidget>
#include <memory>

// The virtual charger of this process on a pseudo-terminal, its clock moved by the test
// (advance()), and a link to it through the real serial stack with the calibration tables
// loaded, ready for a window: rig.host.
struct SimRig {
    std::unique_ptr<sim::VirtualCharger> charger;
    std::unique_ptr<sim::PtyServer> server;
    std::unique_ptr<chlink::ChargerLink> link;
    std::unique_ptr<chlink::Session> session;
    QWidget main;
    winkit::Host host;
    QString device;

    bool startInProcess(const sim::BatterySpec &spec) {
        charger = std::make_unique<sim::VirtualCharger>();
        charger->setBattery(spec);
        charger->setManualClock(true);
        server = std::make_unique<sim::PtyServer>(charger.get());
        QString why;
        if (!server->start(&why)) {
            qWarning() << why;
            return false;
        }
        device = server->slavePath();
        return connectLink();
    }

    // (Re)opens the link to `device` and reads the calibration tables as the handshake does.
    bool connectLink() {
        if (!openRigLink(device, link, session)) return false;
        host.session = session.get();
        host.opener = &main;
        return true;
    }
    ~SimRig() {
        session.reset();
        link.reset();
        server.reset();
    }
};
