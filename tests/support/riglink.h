#pragma once

#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "link/session.h"
#include "serial/serialport.h"

#include <QDebug>
#include <memory>

// A link to the charger on `device` through the real serial stack: opened, with its session,
// and the calibration tables read as the handshake reads them. False (the reason on the test
// log) when the port will not open or the charger does not answer.
inline bool openRigLink(const QString &device, std::unique_ptr<chlink::ChargerLink> &link,
                        std::unique_ptr<chlink::Session> &session) {
    link = std::make_unique<chlink::ChargerLink>(
        [](const QString &d) { return new chlink::SerialBytePort(d); },
        [device](int) { return device; });
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
    return true;
}
