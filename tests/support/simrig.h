#pragma once

#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "link/session.h"
#include "serial/serialport.h"
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
        link = std::make_unique<chlink::ChargerLink>(
            [](const QString &d) { return new chlink::SerialBytePort(d); },
            [this](int) { return device; });
        link->portSetup();
        QString why;
        if (!link->openPort(&why)) {
            qWarning() << why;
            return false;
        }
        session = std::make_unique<chlink::Session>(*link);
        for (int i = 0; i < 16; ++i) {
            const auto a = chlink::eeRead(*session, 1, quint8(i));
            const auto b = chlink::eeRead(*session, 2, quint8(i));
            if (!a || !b) return false;
            link->tableA[i] = char(*a);
            link->tableB[i] = char(*b);
        }
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
